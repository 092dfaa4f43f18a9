// One kind of file that can be carved: a three-character extension, a
// description, a category, whether it is searched for, and its signatures.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ComObject.h"
#include "StoredText.h"

namespace typhex {

class SupportedFileType final : public DispatchObject<ISupportedFileType, IID_ISupportedFileType>,
                                public Implementation {
public:
    HRESULT STDMETHODCALLTYPE get_FileExtension(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_FileExtension(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_Description(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_FileType(SHORT* pVal) override;
    HRESULT STDMETHODCALLTYPE put_FileType(SHORT newVal) override;
    HRESULT STDMETHODCALLTYPE get_Signature(VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE get_HasSignature(VARIANT_BOOL* pVal) override;
    HRESULT STDMETHODCALLTYPE AddSignature(IFileSignature* objSig) override;
    HRESULT STDMETHODCALLTYPE RemoveSignature(IFileSignature* objSig) override;
    HRESULT STDMETHODCALLTYPE get_AllowSearch(VARIANT_BOOL* pVal) override;
    HRESULT STDMETHODCALLTYPE put_AllowSearch(VARIANT_BOOL newVal) override;
    HRESULT STDMETHODCALLTYPE MatchesAtStart(VARIANT bytSeq, LONG lngStartAt, IFileSignature** objSig,
                                             VARIANT_BOOL* blnMatch) override;
    HRESULT STDMETHODCALLTYPE Serialise(VARIANT* bytData) override;
    HRESULT STDMETHODCALLTYPE Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) override;

    // For the set's search index and its identity by extension.
    const std::vector<platform::ComPtr<IFileSignature>>& Signatures() const { return signatures_; }
    const std::u16string& ExtensionText() const { return extension_ ? *extension_ : empty_; }
    bool AllowSearch() const { return allowSearch_; }

protected:
    void* ImplementationPointer() override { return static_cast<Implementation*>(this); }

private:
    void Clear();
    HRESULT ReadRecord(const VARIANT& data, const std::int64_t n, const BYTE* bytes, std::int64_t* position);

    std::optional<std::u16string> extension_;
    std::optional<std::u16string> description_;
    SHORT fileType_ = 4;
    bool allowSearch_ = false;
    std::vector<platform::ComPtr<IFileSignature>> signatures_;
    static inline const std::u16string empty_;
};

// The text of a signature's start pattern, its identity within a type.
std::string SignatureText(IFileSignature* signature);

} // namespace typhex
