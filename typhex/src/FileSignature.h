// How one kind of file looks on a medium: a start pattern, patterns at fixed
// offsets (FileContent objects), end-of-file patterns and a fixed size.
#pragma once

#include <array>
#include <vector>

#include "ByteArray.h"
#include "ComObject.h"

namespace typhex {

// True when at least count bytes are available and every literal entry
// equals its byte.
inline bool PatternMatches(const PatternEntry* entries, std::int64_t count, const BYTE* bytes,
                           std::int64_t available) {
    if (available < count) return false;
    for (std::int64_t i = 0; i < count; ++i) {
        if (entries[i] < 256 && entries[i] != bytes[i]) return false;
    }
    return true;
}

class FileSignature final : public DispatchObject<IFileSignature, IID_IFileSignature>, public Implementation {
public:
    FileSignature();
    ~FileSignature() override;

    HRESULT STDMETHODCALLTYPE AddContent(IFileContent* objFC) override;
    HRESULT STDMETHODCALLTYPE RemoveContent(IFileContent* objFC) override;
    HRESULT STDMETHODCALLTYPE get_EndSequenceCount(BYTE* pVal) override;
    HRESULT STDMETHODCALLTYPE get_FixedLength(VARIANT_BOOL* pVal) override;
    HRESULT STDMETHODCALLTYPE put_FixedLength(VARIANT_BOOL newVal) override;
    HRESULT STDMETHODCALLTYPE get_FileSize(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_FileSize(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_StartSequence(VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE put_StartSequence(VARIANT newVal) override;
    HRESULT STDMETHODCALLTYPE get_Content(VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE get_EndSequence(BYTE item, VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE AddEndSequence(VARIANT objSeq) override;
    HRESULT STDMETHODCALLTYPE RemoveEndSequence(VARIANT objSeq) override;
    HRESULT STDMETHODCALLTYPE MatchesStart(VARIANT bytSeq, LONG lngStartAt, VARIANT_BOOL* blnMatch) override;
    HRESULT STDMETHODCALLTYPE MatchesContent(VARIANT bytSeq, LONG lngLowLim, LONG lngOffset,
                                             VARIANT_BOOL* blnMatch) override;
    HRESULT STDMETHODCALLTYPE MatchesEnd(VARIANT bytSeq, LONG lngStartAt, LONG lngOffset, LONG* lngEndPoint,
                                         VARIANT_BOOL* blnMatch) override;
    HRESULT STDMETHODCALLTYPE Serialise(VARIANT* bytReturn) override;
    HRESULT STDMETHODCALLTYPE Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) override;
    HRESULT STDMETHODCALLTYPE ToString(BSTR* strData) override;
    HRESULT STDMETHODCALLTYPE EndToString(SHORT item, BSTR* strData) override;

    // The start test on a caller's bytes, read in place.
    bool MatchesStartAt(const ByteSpan& bytes, std::int64_t startAt) const {
        if (startAt < 0 || startAt > bytes.size) return startLength_ == 0 && startAt <= bytes.size;
        return PatternMatches(start_.data(), startLength_, bytes.data + startAt, bytes.size - startAt);
    }
    std::size_t StartLength() const { return startLength_; }
    PatternEntry StartEntry(std::size_t position) const { return start_[position]; }

protected:
    void* ImplementationPointer() override { return static_cast<Implementation*>(this); }

private:
    bool FindEnd(const ByteSpan& bytes, std::int64_t startAt, std::int64_t offset, LONG* endPoint) const;
    void Clear();
    HRESULT ReadRecord(const VARIANT& data, const ByteSpan& bytes, std::int64_t* position);
    std::string EndText(std::size_t index) const;

    std::array<PatternEntry, MaxEntries> start_{};
    std::size_t startLength_ = 0;
    std::vector<platform::ComPtr<IFileContent>> contents_;
    std::vector<std::vector<PatternEntry>> ends_;
    bool fixedLength_ = false;
    LONG fileSize_ = 0;
};

} // namespace typhex
