#include "SupportedFileType.h"

#include "ByteArray.h"
#include "Classes.h"
#include "FileSignature.h"

namespace typhex {

std::string SignatureText(IFileSignature* signature) {
    BSTR text = nullptr;
    if (!signature || FAILED(signature->ToString(&text))) return {};
    std::string result = platform::Utf8FromBstr(text);
    SysFreeString(text);
    return result;
}

namespace {

BSTR NewBstr16(const std::u16string& text) { return SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

} // namespace

HRESULT SupportedFileType::get_FileExtension(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = NewBstr16(ExtensionText());
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT SupportedFileType::put_FileExtension(BSTR newVal) {
    if (!newVal) return S_OK;
    return Guarded([&] {
        std::u16string text = BstrText(newVal);
        text.resize(3, u' ');
        extension_ = std::move(text);
        return S_OK;
    });
}

HRESULT SupportedFileType::get_Description(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = NewBstr16(description_ ? *description_ : empty_);
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT SupportedFileType::put_Description(BSTR newVal) {
    if (!newVal) return S_OK;
    return Guarded([&] {
        description_ = BstrText(newVal);
        return S_OK;
    });
}

HRESULT SupportedFileType::get_FileType(SHORT* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = fileType_;
    return S_OK;
}

HRESULT SupportedFileType::put_FileType(SHORT newVal) {
    fileType_ = (newVal >= 1 && newVal <= 4) ? newVal : 4;
    return S_OK;
}

HRESULT SupportedFileType::get_Signature(VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    ClearOut(pVal);
    if (signatures_.empty()) return S_OK;
    return Guarded([&] {
        std::vector<IDispatch*> elements;
        elements.reserve(signatures_.size());
        for (const auto& signature : signatures_) {
            signature->AddRef();
            elements.push_back(signature.Get());
        }
        return MakeObjectArray(IID_IFileSignature, elements, pVal);
    });
}

HRESULT SupportedFileType::get_HasSignature(VARIANT_BOOL* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = signatures_.empty() ? 0 : 1;
    return S_OK;
}

HRESULT SupportedFileType::AddSignature(IFileSignature* objSig) {
    if (!objSig) return S_OK;
    return Guarded([&] {
        RemoveSignature(objSig);
        if (signatures_.size() >= MaxEntries) return E_FAIL; // the count is one byte when stored
        signatures_.emplace_back(objSig);
        NoteEdit();
        return S_OK;
    });
}

HRESULT SupportedFileType::RemoveSignature(IFileSignature* objSig) {
    if (!objSig) return S_OK;
    return Guarded([&] {
        const std::string text = SignatureText(objSig);
        for (auto it = signatures_.begin(); it != signatures_.end(); ++it) {
            if (SignatureText(it->Get()) == text) {
                signatures_.erase(it);
                NoteEdit();
                break;
            }
        }
        return S_OK;
    });
}

HRESULT SupportedFileType::get_AllowSearch(VARIANT_BOOL* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = allowSearch_ ? 1 : 0;
    return S_OK;
}

HRESULT SupportedFileType::put_AllowSearch(VARIANT_BOOL newVal) {
    allowSearch_ = newVal != 0;
    return S_OK;
}

HRESULT SupportedFileType::MatchesAtStart(VARIANT bytSeq, LONG lngStartAt, IFileSignature** objSig,
                                          VARIANT_BOOL* blnMatch) {
    if (!blnMatch || !objSig) return E_POINTER;
    *blnMatch = 0;
    for (const auto& signature : signatures_) {
        HRESULT hr = signature->MatchesStart(bytSeq, lngStartAt, blnMatch);
        if (FAILED(hr)) return hr;
        if (*blnMatch) {
            if (*objSig != signature.Get()) {
                signature->AddRef();
                if (*objSig) (*objSig)->Release();
                *objSig = signature.Get();
            }
            break;
        }
    }
    return S_OK;
}

namespace {

void PutText(std::vector<BYTE>& out, const std::u16string& text) {
    for (char16_t c : text) PutU8(out, static_cast<unsigned>((c & 0xFF) - TextShift) & 0xFF);
}

} // namespace

HRESULT SupportedFileType::Serialise(VARIANT* bytData) {
    if (!bytData) return E_POINTER;
    return Guarded([&] {
        std::vector<BYTE> out;
        if (extension_) {
            PutText(out, *extension_);
        } else {
            for (int i = 0; i < 3; ++i) PutU8(out, TextShift);
        }
        if (description_) PutText(out, *description_);
        PutU8(out, 0);
        PutU8(out, (static_cast<unsigned>(fileType_) & 0x7F) | (allowSearch_ ? 0x80 : 0));
        PutU8(out, static_cast<unsigned>(signatures_.size()));
        for (const auto& signature : signatures_) {
            VARIANT bytes;
            VariantInit(&bytes);
            HRESULT hr = signature->Serialise(&bytes);
            if (FAILED(hr)) return hr;
            ByteSpan span;
            if (ByteSpanOf(bytes, &span) && span.size > 0) out.insert(out.end(), span.data, span.data + span.size);
            VariantClear(&bytes);
        }
        ClearOut(bytData);
        return MakeByteArray(out, bytData);
    });
}

void SupportedFileType::Clear() {
    extension_.reset();
    description_.reset();
    fileType_ = 4;
    allowSearch_ = false;
    if (!signatures_.empty()) {
        signatures_.clear();
        NoteEdit();
    }
}

HRESULT SupportedFileType::ReadRecord(const VARIANT& data, const std::int64_t n, const BYTE* bytes,
                                      std::int64_t* position) {
    std::int64_t p = *position;
    if (p < 0) return S_FALSE;
    std::u16string extension;
    for (int i = 0; i < 3; ++i) {
        if (p >= n) return S_FALSE;
        extension += static_cast<char16_t>(bytes[p++] + TextShift);
    }
    extension_ = std::move(extension);
    std::int64_t end = p;
    while (end < n && bytes[end] != 0) ++end;
    if (end >= n) return S_FALSE;
    std::u16string description;
    for (std::int64_t i = p; i < end; ++i) description += static_cast<char16_t>(bytes[i] + TextShift);
    description_ = std::move(description);
    p = end + 1;
    if (p >= n) return S_FALSE;
    fileType_ = static_cast<SHORT>(bytes[p] & 0x7F);
    allowSearch_ = (bytes[p] & 0x80) != 0;
    p += 1;
    signatures_.clear();
    NoteEdit();
    if (p >= n) return S_FALSE;
    const unsigned count = bytes[p++];
    for (unsigned i = 0; i < count; ++i) {
        if (p >= n) return S_FALSE;
        platform::ComPtr<IFileSignature> signature;
        if (FAILED(CreateLibraryObject(CLSID_FileSignature, IID_IFileSignature, &signature))) return E_FAIL;
        LONG at = static_cast<LONG>(p);
        VARIANT_BOOL read = 0;
        HRESULT hr = signature->Deserialise(data, &at, &read);
        if (FAILED(hr)) return hr;
        if (!read) return S_FALSE;
        p = at;
        signatures_.push_back(std::move(signature));
    }
    *position = p;
    return S_OK;
}

HRESULT SupportedFileType::Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) {
    ByteSpan bytes;
    if (!ByteSpanOf(varData, &bytes)) return E_INVALIDARG;
    if (!lngStart || !blnCompleted) return E_POINTER;
    *blnCompleted = 0;
    return Guarded([&] {
        std::int64_t position = *lngStart;
        HRESULT hr = ReadRecord(varData, bytes.size, bytes.data, &position);
        if (hr != S_OK) {
            Clear();
            return FAILED(hr) ? hr : S_OK;
        }
        *lngStart = static_cast<LONG>(position);
        *blnCompleted = 1;
        return S_OK;
    });
}

HRESULT CreateSupportedFileType(REFIID riid, void** object) {
    return CreateObject<SupportedFileType>(riid, object);
}

} // namespace typhex
