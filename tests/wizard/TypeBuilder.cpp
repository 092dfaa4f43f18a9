#include "TypeBuilder.h"

#include <stdexcept>

#include "platform/oleauto.h"

namespace wizardtest {

namespace {

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string("library call failed: ") + what);
}

template <class T>
platform::ComPtr<T> Create(REFCLSID clsid, REFIID iid) {
    platform::ComPtr<T> object;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.PutVoid()), "CoCreateInstance");
    return object;
}

// An array of ByteValue objects in a Variant, as the signature's editing
// members take it. The caller clears the Variant.
VARIANT ByteValues(const Pattern& pattern) {
    SAFEARRAY* array = SafeArrayCreateVectorEx(VT_DISPATCH, 0, static_cast<ULONG>(pattern.size()),
                                               const_cast<IID*>(&IID_IByteValue));
    for (LONG i = 0; i < static_cast<LONG>(pattern.size()); ++i) {
        auto value = Create<IByteValue>(CLSID_ByteValue, IID_IByteValue);
        if (pattern[i] > 255) {
            Check(value->put_DontCare(VARIANT_TRUE), "DontCare");
        } else {
            Check(value->put_Value(static_cast<BYTE>(pattern[i])), "Value");
        }
        IDispatch* element = value.Get();
        Check(SafeArrayPutElement(array, &i, element), "SafeArrayPutElement");
    }
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_DISPATCH;
    v.parray = array;
    return v;
}

} // namespace

platform::ComPtr<ISupportedFileTypes> NewFileTypes() {
    return Create<ISupportedFileTypes>(CLSID_SupportedFileTypes, IID_ISupportedFileTypes);
}

void AddFileType(ISupportedFileTypes* types, const std::string& extension, const Pattern& start,
                 const std::vector<Pattern>& ends, bool fixedLength, LONG fileSize) {
    auto signature = Create<IFileSignature>(CLSID_FileSignature, IID_IFileSignature);
    VARIANT startValues = ByteValues(start);
    Check(signature->put_StartSequence(startValues), "StartSequence");
    VariantClear(&startValues);
    for (const auto& end : ends) {
        VARIANT endValues = ByteValues(end);
        Check(signature->AddEndSequence(endValues), "AddEndSequence");
        VariantClear(&endValues);
    }
    Check(signature->put_FixedLength(fixedLength ? VARIANT_TRUE : VARIANT_FALSE), "FixedLength");
    Check(signature->put_FileSize(fileSize), "FileSize");

    auto type = Create<ISupportedFileType>(CLSID_SupportedFileType, IID_ISupportedFileType);
    BSTR ext = platform::BstrFromUtf8(extension);
    Check(type->put_FileExtension(ext), "FileExtension");
    SysFreeString(ext);
    Check(type->put_AllowSearch(VARIANT_TRUE), "AllowSearch");
    Check(type->AddSignature(signature.Get()), "AddSignature");
    Check(types->AddFileType(type.Get()), "AddFileType");
}

} // namespace wizardtest
