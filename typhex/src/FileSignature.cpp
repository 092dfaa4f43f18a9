#include "FileSignature.h"

#include <algorithm>
#include <cstring>

#include "Classes.h"

namespace typhex {

FileSignature::FileSignature() { SetLibrarySectorSize(512); }

FileSignature::~FileSignature() = default;

void FileSignature::Clear() {
    start_.fill(0);
    startLength_ = 0;
    contents_.clear();
    ends_.clear();
    fixedLength_ = false;
    fileSize_ = 0;
    NoteEdit();
}

namespace {

std::string ContentText(IFileContent* content) {
    BSTR text = nullptr;
    if (FAILED(content->ToString(&text))) return {};
    std::string result = platform::Utf8FromBstr(text);
    SysFreeString(text);
    return result;
}

} // namespace

HRESULT FileSignature::AddContent(IFileContent* objFC) {
    if (!objFC) return S_OK;
    return Guarded([&] {
        RemoveContent(objFC);
        if (contents_.size() >= MaxEntries) return E_FAIL; // the count is one byte when stored
        contents_.emplace_back(objFC);
        return S_OK;
    });
}

HRESULT FileSignature::RemoveContent(IFileContent* objFC) {
    if (!objFC) return S_OK;
    return Guarded([&] {
        const std::string text = ContentText(objFC);
        for (auto it = contents_.begin(); it != contents_.end(); ++it) {
            if (*it && ContentText(it->Get()) == text) {
                contents_.erase(it);
                break;
            }
        }
        return S_OK;
    });
}

HRESULT FileSignature::get_EndSequenceCount(BYTE* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = static_cast<BYTE>(ends_.size());
    return S_OK;
}

HRESULT FileSignature::get_FixedLength(VARIANT_BOOL* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = fixedLength_ ? 1 : 0;
    return S_OK;
}

HRESULT FileSignature::put_FixedLength(VARIANT_BOOL newVal) {
    fixedLength_ = newVal != 0;
    return S_OK;
}

HRESULT FileSignature::get_FileSize(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = fileSize_;
    return S_OK;
}

HRESULT FileSignature::put_FileSize(LONG newVal) {
    fileSize_ = newVal;
    return S_OK;
}

HRESULT FileSignature::get_StartSequence(VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    ClearOut(pVal);
    return Guarded([&] { return MakeByteValueArray(start_.data(), startLength_, pVal); });
}

HRESULT FileSignature::put_StartSequence(VARIANT newVal) {
    return Guarded([&] {
        std::vector<PatternEntry> entries;
        if (!ReadByteValueArray(newVal, &entries)) return E_INVALIDARG;
        if (entries.size() > MaxEntries) return E_INVALIDARG; // longer than a stored pattern can be
        start_.fill(0);
        std::copy(entries.begin(), entries.end(), start_.begin());
        startLength_ = entries.size();
        NoteEdit();
        return S_OK;
    });
}

HRESULT FileSignature::get_Content(VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    ClearOut(pVal);
    if (contents_.empty()) return S_OK;
    return Guarded([&] {
        std::vector<IDispatch*> elements;
        elements.reserve(contents_.size());
        for (const auto& content : contents_) {
            content->AddRef();
            elements.push_back(content.Get());
        }
        return MakeObjectArray(IID_IFileContent, elements, pVal);
    });
}

HRESULT FileSignature::get_EndSequence(BYTE item, VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    ClearOut(pVal);
    if (item < 1 || item > ends_.size() || ends_[item - 1].empty()) return S_OK;
    const auto& pattern = ends_[item - 1];
    return Guarded([&] { return MakeByteValueArray(pattern.data(), pattern.size(), pVal); });
}

HRESULT FileSignature::AddEndSequence(VARIANT objSeq) {
    return Guarded([&] {
        std::vector<PatternEntry> entries;
        if (!ReadByteValueArray(objSeq, &entries)) return E_INVALIDARG;
        if (entries.size() > MaxEntries) return E_INVALIDARG;
        RemoveEndSequence(objSeq);
        if (ends_.size() >= MaxEntries) return E_FAIL;
        ends_.push_back(std::move(entries));
        return S_OK;
    });
}

HRESULT FileSignature::RemoveEndSequence(VARIANT objSeq) {
    return Guarded([&] {
        std::vector<PatternEntry> entries;
        if (!ReadByteValueArray(objSeq, &entries)) return E_INVALIDARG;
        // Normalised entries are equal exactly when their pattern texts are.
        auto found = std::find(ends_.begin(), ends_.end(), entries);
        if (found != ends_.end()) ends_.erase(found);
        return S_OK;
    });
}

HRESULT FileSignature::MatchesStart(VARIANT bytSeq, LONG lngStartAt, VARIANT_BOOL* blnMatch) {
    if (!blnMatch) return E_POINTER;
    *blnMatch = 0;
    ByteSpan bytes;
    if (!ByteSpanOf(bytSeq, &bytes)) return E_INVALIDARG;
    *blnMatch = MatchesStartAt(bytes, lngStartAt) ? 1 : 0;
    return S_OK;
}

HRESULT FileSignature::MatchesContent(VARIANT bytSeq, LONG lngLowLim, LONG lngOffset, VARIANT_BOOL* blnMatch) {
    ByteSpan bytes;
    if (!ByteSpanOf(bytSeq, &bytes)) return E_INVALIDARG;
    if (!blnMatch) return E_POINTER;
    *blnMatch = 0;
    for (const auto& content : contents_) {
        if (*blnMatch) break;
        if (!content) continue;
        VARIANT_BOOL exists = 0;
        if (FAILED(content->get_ContentExists(&exists)) || !exists) continue;
        LONG offset = 0;
        content->get_Offset(&offset);
        VARIANT ints;
        VariantInit(&ints);
        if (FAILED(content->get_ContentAsInts(&ints)) || ints.vt != (VT_ARRAY | VT_INT) || !ints.parray) {
            VariantClear(&ints);
            continue;
        }
        const ULONG count = ints.parray->rgsabound[0].cElements;
        const auto* values = static_cast<const INT*>(ints.parray->pvData);
        const std::int64_t p = std::int64_t{offset} - lngOffset + lngLowLim;
        if (count > 0 && p >= lngLowLim && p >= 0 && p <= bytes.size - 1) {
            bool match = bytes.size - p >= static_cast<std::int64_t>(count);
            for (ULONG i = 0; match && i < count; ++i) {
                if (values[i] < 256 && values[i] != bytes.data[p + i]) match = false;
            }
            *blnMatch = match ? 1 : 0;
        }
        VariantClear(&ints);
    }
    return S_OK;
}

namespace {

// The rest of the end pattern's sector, as far as the buffer shows it, must
// be zero padding; a file that ends exactly on a sector boundary needs none.
bool SectorTailIsZero(const ByteSpan& bytes, std::int64_t e, std::int64_t startAt, std::int64_t offset,
                      std::int64_t sectorSize) {
    const std::int64_t fileLength = e + 1 + offset - startAt;
    if (fileLength % sectorSize == 0) return true;
    const std::int64_t t = (fileLength / sectorSize + 1) * sectorSize - offset + startAt - 1;
    const std::int64_t u = std::min(t, bytes.size - 1);
    for (std::int64_t i = e + 1; i <= u; ++i) {
        if (bytes.data[i] != 0) return false;
    }
    return true;
}

} // namespace

bool FileSignature::FindEnd(const ByteSpan& bytes, std::int64_t startAt, std::int64_t offset,
                            LONG* endPoint) const {
    const std::int64_t n = bytes.size;
    const std::int64_t sectorSize = LibrarySectorSize();
    if (startAt < 0 || sectorSize <= 0) return false;
    for (const auto& pattern : ends_) {
        const auto length = static_cast<std::int64_t>(pattern.size());
        const int first = pattern.empty() ? 0 : (pattern[0] & 0xFF);
        const std::int64_t window = std::min(n - length - startAt, sectorSize);
        if (window <= 0) continue;
        const std::int64_t windowEnd = startAt + window;
        const BYTE* base = bytes.data;
        std::int64_t p = startAt;
        while (p < windowEnd) {
            const void* hit = std::memchr(base + p, first, static_cast<std::size_t>(windowEnd - p));
            if (!hit) break;
            p = static_cast<const BYTE*>(hit) - base;
            const std::int64_t after = windowEnd - 1 - p;
            if (after == 0) break;
            if (length <= 1 || PatternMatches(pattern.data() + 1, length - 1, base + p + 1, after)) {
                const std::int64_t last = p + length - 1;
                *endPoint = static_cast<LONG>(last);
                if (SectorTailIsZero(bytes, last, startAt, offset, sectorSize)) return true;
            }
            ++p;
        }
    }
    return false;
}

HRESULT FileSignature::MatchesEnd(VARIANT bytSeq, LONG lngStartAt, LONG lngOffset, LONG* lngEndPoint,
                                  VARIANT_BOOL* blnMatch) {
    ByteSpan bytes;
    if (!ByteSpanOf(bytSeq, &bytes)) return E_INVALIDARG;
    if (!blnMatch || !lngEndPoint) return E_POINTER;
    *blnMatch = 0;
    if (FindEnd(bytes, lngStartAt, lngOffset, lngEndPoint)) {
        *blnMatch = 1;
    } else if (fixedLength_ && fileSize_ >= 0 && bytes.size - lngStartAt + lngOffset >= fileSize_) {
        *blnMatch = 1;
    }
    return S_OK;
}

HRESULT FileSignature::Serialise(VARIANT* bytReturn) {
    if (!bytReturn) return E_POINTER;
    return Guarded([&] {
        std::vector<BYTE> out;
        PutU8(out, fixedLength_ ? 1 : 0);
        PutI32(out, fileSize_);
        PutU8(out, static_cast<unsigned>(startLength_));
        for (std::size_t i = 0; i < startLength_; ++i) PutU16(out, start_[i]);
        // A content without entries has no stored form; it is left out and
        // not counted, so that the record reads back.
        std::vector<BYTE> contentBytes;
        unsigned written = 0;
        for (const auto& content : contents_) {
            if (!content) continue;
            VARIANT bytes;
            VariantInit(&bytes);
            LONG minimum = 0;
            content->get_MinSize(&minimum);
            HRESULT hr = content->Serialise(&bytes);
            if (FAILED(hr)) return hr;
            ByteSpan span;
            if (ByteSpanOf(bytes, &span) && span.size >= minimum) {
                contentBytes.insert(contentBytes.end(), span.data, span.data + span.size);
                ++written;
            }
            VariantClear(&bytes);
        }
        PutU8(out, written);
        out.insert(out.end(), contentBytes.begin(), contentBytes.end());
        PutU8(out, static_cast<unsigned>(ends_.size()));
        for (const auto& pattern : ends_) {
            PutU8(out, static_cast<unsigned>(pattern.size()));
            for (PatternEntry entry : pattern) PutU16(out, entry);
        }
        ClearOut(bytReturn);
        return MakeByteArray(out, bytReturn);
    });
}

HRESULT FileSignature::ReadRecord(const VARIANT& data, const ByteSpan& bytes, std::int64_t* position) {
    const std::int64_t n = bytes.size;
    std::int64_t p = *position;
    if (p < 0 || p >= n) return S_FALSE;
    fixedLength_ = bytes.data[p] != 0;
    p += 1;
    if (p + 4 > n) return S_FALSE;
    fileSize_ = GetI32(bytes, p);
    p += 4;
    if (p >= n) return S_FALSE;
    const unsigned startLength = bytes.data[p++];
    for (unsigned i = 0; i < startLength; ++i) {
        if (p + 2 > n) return S_FALSE;
        start_[startLength_++] = NormalisedEntry(GetU16(bytes, p));
        p += 2;
    }
    if (p >= n) return S_FALSE;
    const unsigned contentCount = bytes.data[p++];
    for (unsigned i = 0; i < contentCount; ++i) {
        if (p >= n) return S_FALSE;
        platform::ComPtr<IFileContent> content;
        if (FAILED(CreateLibraryObject(CLSID_FileContent, IID_IFileContent, &content))) return E_FAIL;
        LONG at = static_cast<LONG>(p);
        VARIANT_BOOL read = 0;
        HRESULT hr = content->Deserialise(data, &at, &read);
        if (FAILED(hr)) return hr;
        if (!read) return S_FALSE;
        p = at;
        contents_.push_back(std::move(content));
    }
    if (p >= n) return S_FALSE;
    const unsigned endCount = bytes.data[p++];
    for (unsigned i = 0; i < endCount; ++i) {
        if (p >= n) return S_FALSE;
        const unsigned length = bytes.data[p++];
        std::vector<PatternEntry> pattern;
        pattern.reserve(length);
        for (unsigned k = 0; k < length; ++k) {
            if (p + 2 > n) return S_FALSE;
            pattern.push_back(NormalisedEntry(GetU16(bytes, p)));
            p += 2;
        }
        ends_.push_back(std::move(pattern));
    }
    *position = p;
    return S_OK;
}

HRESULT FileSignature::Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) {
    Clear();
    ByteSpan bytes;
    if (!ByteSpanOf(varData, &bytes)) return E_INVALIDARG;
    if (!lngStart || !blnCompleted) return E_POINTER;
    *blnCompleted = 0;
    return Guarded([&] {
        std::int64_t position = *lngStart;
        HRESULT hr = ReadRecord(varData, bytes, &position);
        if (hr != S_OK) {
            Clear();
            return FAILED(hr) ? hr : S_OK;
        }
        *lngStart = static_cast<LONG>(position);
        *blnCompleted = 1;
        return S_OK;
    });
}

std::string FileSignature::EndText(std::size_t index) const {
    if (index >= ends_.size()) return {};
    return PatternText(ends_[index].data(), ends_[index].size());
}

HRESULT FileSignature::ToString(BSTR* strData) {
    if (!strData) return E_POINTER;
    return Guarded([&] {
        *strData = NewBstr(PatternText(start_.data(), startLength_));
        return *strData ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT FileSignature::EndToString(SHORT item, BSTR* strData) {
    if (!strData) return E_POINTER;
    return Guarded([&] {
        const bool inRange = item >= 1 && static_cast<std::size_t>(item) <= ends_.size();
        *strData = NewBstr(EndText(inRange ? static_cast<std::size_t>(item - 1) : 0));
        return *strData ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT CreateFileSignature(REFIID riid, void** object) { return CreateObject<FileSignature>(riid, object); }

} // namespace typhex
