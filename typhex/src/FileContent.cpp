// A pattern of up to 255 positions at a fixed offset from a file's start.
#include <array>
#include <cstdio>

#include "ByteArray.h"
#include "Classes.h"
#include "ComObject.h"

namespace typhex {
namespace {

constexpr LONG SmallestRecord = 7; // offset, count and one entry

class FileContent final : public DispatchObject<IFileContent, IID_IFileContent> {
public:
    HRESULT STDMETHODCALLTYPE get_MinSize(LONG* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = SmallestRecord;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Offset(LONG* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = offset_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Offset(LONG newVal) override {
        offset_ = newVal;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ContentExists(VARIANT_BOOL* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = count_ > 0 ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddContent(IByteValue* objNewValue) override {
        if (!objNewValue) return S_OK;
        // The count is one byte in the stored form: a 256th entry is refused.
        if (count_ >= MaxEntries) return E_FAIL;
        SHORT entry = 0;
        HRESULT hr = objNewValue->Serialise(&entry);
        if (FAILED(hr)) return hr;
        Append(static_cast<std::uint16_t>(entry));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Serialise(VARIANT* byteArray) override {
        if (!byteArray) return E_POINTER;
        return Guarded([&] {
            std::vector<BYTE> bytes;
            if (count_ > 0) {
                bytes.reserve(5 + 2 * count_);
                PutI32(bytes, offset_);
                PutU8(bytes, static_cast<unsigned>(count_));
                for (std::size_t i = 0; i < count_; ++i) PutU16(bytes, entries_[i]);
            }
            ClearOut(byteArray);
            return MakeByteArray(bytes, byteArray);
        });
    }
    HRESULT STDMETHODCALLTYPE Deserialise(VARIANT bytData, LONG* lngStart, VARIANT_BOOL* pVal) override {
        ByteSpan span;
        if (!ByteSpanOf(bytData, &span)) return E_INVALIDARG;
        if (!lngStart || !pVal) return E_POINTER;
        Clear();
        *pVal = 0;
        const std::int64_t n = span.size;
        if (n < SmallestRecord) return S_OK;
        std::int64_t p = *lngStart;
        if (p < 0 || p + 4 > n) return S_OK;
        offset_ = GetI32(span, p);
        p += 4;
        if (p >= n) return S_OK;
        unsigned k = span.data[p];
        p += 1;
        for (unsigned i = 0; i < k; ++i) {
            if (p + 2 > n) return S_OK;
            Append(GetU16(span, p));
            p += 2;
        }
        *pVal = 1;
        *lngStart = static_cast<LONG>(p);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ToString(BSTR* sVal) override {
        if (!sVal) return E_POINTER;
        return Guarded([&] {
            char offset[16];
            std::snprintf(offset, sizeof offset, "%08X", static_cast<unsigned>(offset_));
            *sVal = NewBstr(std::string(offset) + ":" + PatternText(entries_.data(), count_));
            return *sVal ? S_OK : E_OUTOFMEMORY;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Content(VARIANT* pVal) override {
        if (!pVal) return E_POINTER;
        ClearOut(pVal);
        if (count_ == 0) return S_OK;
        return Guarded([&] { return MakeByteValueArray(entries_.data(), count_, pVal); });
    }
    HRESULT STDMETHODCALLTYPE get_ContentAsInts(VARIANT* pVal) override {
        if (!pVal) return E_POINTER;
        ClearOut(pVal);
        if (count_ == 0) return S_OK;
        SAFEARRAY* array = SafeArrayCreateVector(VT_INT, 0, static_cast<ULONG>(count_));
        if (!array) return E_OUTOFMEMORY;
        auto* values = static_cast<INT*>(array->pvData);
        for (std::size_t i = 0; i < count_; ++i) values[i] = entries_[i];
        pVal->vt = VT_ARRAY | VT_INT;
        pVal->parray = array;
        return S_OK;
    }

private:
    // As if a new ByteValue had been given Deserialise(entry) and then added.
    void Append(std::uint16_t entry) {
        if (count_ >= MaxEntries) return;
        entries_[count_++] = NormalisedEntry(entry);
    }
    void Clear() {
        offset_ = 0;
        entries_.fill(0);
        count_ = 0;
    }

    LONG offset_ = 0;
    std::array<PatternEntry, MaxEntries> entries_{};
    std::size_t count_ = 0;
};

} // namespace

HRESULT CreateFileContent(REFIID riid, void** object) { return CreateObject<FileContent>(riid, object); }

} // namespace typhex
