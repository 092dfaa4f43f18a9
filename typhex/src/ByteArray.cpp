#include "ByteArray.h"

#include <algorithm>

#include "Module.h"

namespace typhex {
namespace {

SAFEARRAY* ByteArrayOf(const VARIANT& variant) {
    if (variant.vt == (VT_ARRAY | VT_UI1)) return variant.parray;
    if (variant.vt == (VT_ARRAY | VT_UI1 | VT_BYREF)) return variant.pparray ? *variant.pparray : nullptr;
    return nullptr;
}

bool IsByteArrayKind(const VARIANT& variant) {
    return variant.vt == (VT_ARRAY | VT_UI1) || variant.vt == (VT_ARRAY | VT_UI1 | VT_BYREF);
}

} // namespace

bool WritableByteSpanOf(const VARIANT& variant, BYTE** data, std::int64_t* size) {
    if (!IsByteArrayKind(variant)) return false;
    SAFEARRAY* array = ByteArrayOf(variant);
    *data = nullptr;
    *size = 0;
    if (!array) return true; // an unallocated array: no elements
    if (array->cDims != 1 || array->cbElements != 1) return false;
    *data = static_cast<BYTE*>(array->pvData);
    *size = *data ? static_cast<std::int64_t>(array->rgsabound[0].cElements) : 0;
    return true;
}

bool ByteSpanOf(const VARIANT& variant, ByteSpan* span) {
    BYTE* data = nullptr;
    std::int64_t size = 0;
    if (!WritableByteSpanOf(variant, &data, &size)) return false;
    span->data = data;
    span->size = size;
    return true;
}

void ClearOut(VARIANT* variant) {
    if (variant) VariantClear(variant);
}

HRESULT MakeByteArray(const std::vector<BYTE>& bytes, VARIANT* out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array) return E_OUTOFMEMORY;
    if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(array->pvData));
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
    return S_OK;
}

HRESULT MakeObjectArray(REFIID elementIid, std::vector<IDispatch*>& elements, VARIANT* out) {
    GUID iid = elementIid;
    SAFEARRAY* array = SafeArrayCreateVectorEx(VT_DISPATCH, 0, static_cast<ULONG>(elements.size()), &iid);
    if (!array) {
        for (IDispatch* element : elements)
            if (element) element->Release();
        elements.clear();
        return E_OUTOFMEMORY;
    }
    auto** slots = static_cast<IDispatch**>(array->pvData);
    for (std::size_t i = 0; i < elements.size(); ++i) slots[i] = elements[i];
    elements.clear();
    out->vt = VT_ARRAY | VT_DISPATCH;
    out->parray = array;
    return S_OK;
}

HRESULT MakeByteValueArray(const PatternEntry* entries, std::size_t count, VARIANT* out) {
    std::vector<IDispatch*> elements;
    elements.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        IByteValue* value = nullptr;
        HRESULT hr = CreateLibraryObject(CLSID_ByteValue, IID_IByteValue, reinterpret_cast<void**>(&value));
        if (FAILED(hr)) {
            for (IDispatch* element : elements) element->Release();
            return hr;
        }
        value->Deserialise(static_cast<SHORT>(entries[i]));
        elements.push_back(value);
    }
    return MakeObjectArray(IID_IByteValue, elements, out);
}

bool ReadByteValueArray(const VARIANT& variant, std::vector<PatternEntry>* entries) {
    if (variant.vt != (VT_ARRAY | VT_DISPATCH) && variant.vt != (VT_ARRAY | VT_UNKNOWN)) return false;
    entries->clear();
    SAFEARRAY* array = variant.parray;
    if (!array) return true;
    if (array->cDims != 1) return false;
    auto** slots = static_cast<IUnknown**>(array->pvData);
    ULONG count = slots ? array->rgsabound[0].cElements : 0;
    for (ULONG i = 0; i < count; ++i) {
        if (!slots[i]) continue;
        IByteValue* value = nullptr;
        if (FAILED(slots[i]->QueryInterface(IID_IByteValue, reinterpret_cast<void**>(&value))) || !value) continue;
        SHORT entry = 0;
        value->Serialise(&entry);
        value->Release();
        entries->push_back(NormalisedEntry(static_cast<std::uint16_t>(entry)));
    }
    return true;
}

std::string PatternText(const PatternEntry* entries, std::size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        if (entries[i] & 0xFF00u) {
            text += "xx";
        } else {
            text += digits[entries[i] >> 4];
            text += digits[entries[i] & 0xF];
        }
    }
    return text;
}

BSTR NewBstr(const std::string& ascii) {
    std::u16string wide(ascii.begin(), ascii.end());
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::u16string BstrText(BSTR text) {
    if (!text) return {};
    return std::u16string(text, SysStringLen(text));
}

} // namespace typhex
