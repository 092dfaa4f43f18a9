// One open file at a time, written through a 1,000,000-byte buffer so that
// data reaches the file in whole blocks whatever the callers' piece sizes.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ByteArray.h"
#include "Classes.h"
#include "ComObject.h"

namespace typhex {
namespace {

constexpr std::int64_t BufferSize = 1000000;

class LargeFile final : public DispatchObject<ILargeFile, IID_ILargeFile> {
public:
    ~LargeFile() override { Close(); }

    HRESULT STDMETHODCALLTYPE OpenFile(BSTR strFileName, VARIANT_BOOL blnWriteAccess,
                                       VARIANT_BOOL* success) override {
        if (!strFileName || SysStringLen(strFileName) == 0) return S_OK;
        Close();
        const std::string path = platform::Utf8FromBstr(strFileName);
        if (blnWriteAccess) {
            // Kept from file to file: a new one would be mapped, faulted in
            // and zeroed by the kernel for every file.
            if (!buffer_) buffer_.reset(new (std::nothrow) BYTE[BufferSize]);
            if (!buffer_) {
                if (success) *success = 0;
                return E_OUTOFMEMORY;
            }
            file_ = std::fopen(path.c_str(), "wb");
            // The block buffer is the only one: each full block goes to the
            // file at once, and a failing write shows where it happens.
            if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
        } else {
            file_ = std::fopen(path.c_str(), "rb");
        }
        pending_ = 0;
        writeFailed_ = false;
        if (!file_) {
            buffer_.reset();
            if (success) *success = 0;
            return E_FAIL;
        }
        writing_ = blnWriteAccess != 0;
        if (success) *success = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WriteData(VARIANT buffer, LONG bufpos, LONG count, LONG* result) override {
        if (!result) return E_POINTER;
        *result = 0;
        ByteSpan bytes;
        if (!ByteSpanOf(buffer, &bytes)) return E_INVALIDARG;
        if (count < 0 || bufpos < 0 || std::int64_t{bufpos} + count > bytes.size) return E_INVALIDARG;
        if (!file_ || !writing_) {
            *result = -1; // nothing can be written: never report the bytes as taken
            return S_OK;
        }
        std::int64_t copied = 0;
        while (copied < count) {
            // Whole blocks with nothing pending go straight from the caller's
            // array: the file still grows one 1,000,000-byte block at a time,
            // without the copy into our buffer.
            if (pending_ == 0 && std::int64_t{count} - copied >= BufferSize) {
                const bool written =
                    std::fwrite(bytes.data + bufpos + copied, 1, BufferSize, file_) == BufferSize;
                copied += BufferSize;
                if (!written) {
                    writeFailed_ = true;
                    *result = -1;
                    return S_OK;
                }
                continue;
            }
            const std::int64_t piece = std::min(BufferSize - pending_, std::int64_t{count} - copied);
            std::memcpy(buffer_.get() + pending_, bytes.data + bufpos + copied, static_cast<std::size_t>(piece));
            pending_ += piece;
            copied += piece;
            if (pending_ == BufferSize) {
                const bool written = std::fwrite(buffer_.get(), 1, BufferSize, file_) == BufferSize;
                pending_ = 0;
                if (!written) {
                    writeFailed_ = true;
                    *result = -1;
                    return S_OK;
                }
            }
        }
        *result = count;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReadData(VARIANT* buffer, LONG* byteCount) override {
        if (!buffer || !byteCount) return E_POINTER;
        BYTE* data = nullptr;
        std::int64_t size = 0;
        if (!WritableByteSpanOf(*buffer, &data, &size)) return E_INVALIDARG;
        *byteCount = 0;
        if (!file_ || writing_ || size == 0) return S_OK;
        *byteCount = static_cast<LONG>(std::fread(data, 1, static_cast<std::size_t>(size), file_));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CloseFile(VARIANT_BOOL* success) override {
        const bool closed = Close();
        if (success) *success = closed ? 1 : 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE FileSize(BSTR strFilePath, double* fSize) override {
        if (!fSize) return E_POINTER;
        *fSize = 0;
        struct stat status {};
        const std::string path = platform::Utf8FromBstr(strFilePath);
        if (!path.empty() && ::stat(path.c_str(), &status) == 0) *fSize = static_cast<double>(status.st_size);
        return S_OK;
    }

private:
    // Writes what is pending and closes. False when the file did not receive
    // all the bytes it was given: a short write, a failed flush or close.
    bool Close() {
        if (!file_) return true;
        bool complete = !writeFailed_;
        if (writing_ && pending_ > 0) {
            complete = std::fwrite(buffer_.get(), 1, static_cast<std::size_t>(pending_), file_) ==
                           static_cast<std::size_t>(pending_) &&
                       complete;
        }
        complete = std::fclose(file_) == 0 && complete;
        file_ = nullptr;
        pending_ = 0;
        writing_ = false;
        writeFailed_ = false;
        return complete;
    }

    std::FILE* file_ = nullptr;
    std::unique_ptr<BYTE[]> buffer_;
    std::int64_t pending_ = 0;
    bool writing_ = false;
    bool writeFailed_ = false;
};

} // namespace

HRESULT CreateLargeFile(REFIID riid, void** object) { return CreateObject<LargeFile>(riid, object); }

} // namespace typhex
