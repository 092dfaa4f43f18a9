// The set of file types: the signature database, its search for a file
// start at a position, and its file form.
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ByteArray.h"
#include "Classes.h"
#include "ComObject.h"
#include "FileSignature.h"
#include "SupportedFileType.h"

namespace typhex {
namespace {

constexpr std::size_t MaxTypes = 32767; // the stored count is signed 16-bit

// One step of the search in list order: a signature of one of the library's
// own types (tested in place), a signature of another maker held by such a
// type, or a whole type of another maker. order is its place in the search.
struct Candidate {
    FileSignature* signature = nullptr;
    IFileSignature* foreignSignature = nullptr;
    ISupportedFileType* foreignType = nullptr;
    SupportedFileType* type = nullptr;
    std::uint32_t order = 0;
};

struct CandidateRange {
    const Candidate* begin = nullptr;
    const Candidate* end = nullptr;
};

// The candidates that can match at a position, found by the bytes at the
// position and four bytes on (where the ftyp box's name begins), so that a
// sector of card data is tested against a handful of signatures at most.
// Only candidates with a literal byte at both places go into that table;
// one with a literal byte at one place only is listed under that byte (the
// ftyp brands: any box size, then "ftyp"), and one with neither (or another
// maker's object) is tried at every position: each candidate is stored at
// most three times, whatever its pattern. Near the buffer's end the first byte alone selects them. The
// lists are merged by order, so that the first match is the one a plain
// search in list order would find. Rebuilt whenever a set, a type's
// signature list or a start pattern has changed.
class StartIndex {
public:
    static constexpr std::int64_t SecondProbe = 4;

    void Rebuild(const std::vector<platform::ComPtr<ISupportedFileType>>& types) {
        std::vector<Candidate> all;
        for (const auto& held : types) {
            SupportedFileType* type = ImplementationOf<SupportedFileType>(held.Get());
            if (!type) {
                all.push_back(Candidate{nullptr, nullptr, held.Get(), nullptr, Next(all)});
                continue;
            }
            for (const auto& heldSignature : type->Signatures()) {
                FileSignature* signature = ImplementationOf<FileSignature>(heldSignature.Get());
                all.push_back(
                    Candidate{signature, signature ? nullptr : heldSignature.Get(), nullptr, type, Next(all)});
            }
        }
        for (auto& list : byFirstByte_) list.clear();
        for (auto& list : firstByteOnly_) list.clear();
        for (auto& list : fifthByteOnly_) list.clear();
        anyFirstByte_.clear();
        neitherByte_.clear();
        outsideBuffer_.clear();
        std::vector<const Candidate*> paired;
        for (const Candidate& candidate : all) {
            const int first = Literal(candidate, 0);
            if (first < 0) {
                anyFirstByte_.push_back(candidate);
                const int fifth = Literal(candidate, SecondProbe);
                if (fifth < 0) {
                    neitherByte_.push_back(candidate);
                } else {
                    fifthByteOnly_[fifth].push_back(candidate);
                }
            } else {
                byFirstByte_[first].push_back(candidate);
                if (Literal(candidate, SecondProbe) < 0) {
                    firstByteOnly_[first].push_back(candidate);
                } else {
                    paired.push_back(&candidate);
                }
            }
            if (!candidate.signature || candidate.signature->StartLength() == 0) outsideBuffer_.push_back(candidate);
        }
        // Keys (first byte, fifth byte) in one flat table: count, then place.
        std::fill(offsets_.begin(), offsets_.end(), 0);
        for (const Candidate* candidate : paired) ++offsets_[Key(*candidate) + 1];
        for (std::size_t key = 0; key < KeyCount; ++key) offsets_[key + 1] += offsets_[key];
        byPair_.assign(offsets_[KeyCount], Candidate{});
        std::vector<std::uint32_t> next(offsets_.begin(), offsets_.end() - 1);
        for (const Candidate* candidate : paired) byPair_[next[Key(*candidate)]++] = *candidate;
        pairUsed_.fill(0);
        for (const Candidate* candidate : paired) pairUsed_[Key(*candidate) / 64] |= std::uint64_t{1} << (Key(*candidate) % 64);
    }

    // At most four lists, each in search order.
    struct Lists {
        std::array<CandidateRange, 4> ranges{};
        int count = 0;
        void Add(const Candidate* begin, const Candidate* end) {
            if (begin != end) ranges[static_cast<std::size_t>(count++)] = {begin, end};
        }
        // The next candidate in search order, or null when all are tried.
        const Candidate* Next() {
            CandidateRange* lowest = nullptr;
            for (int i = 0; i < count; ++i) {
                CandidateRange& range = ranges[static_cast<std::size_t>(i)];
                if (range.begin != range.end && (!lowest || range.begin->order < lowest->begin->order)) lowest = &range;
            }
            return lowest ? lowest->begin++ : nullptr;
        }
    };
    Lists At(const ByteSpan& bytes, std::int64_t startAt) const {
        Lists lists;
        if (startAt < 0 || startAt >= bytes.size) {
            lists.Add(outsideBuffer_.data(), outsideBuffer_.data() + outsideBuffer_.size());
            return lists;
        }
        const BYTE first = bytes.data[startAt];
        if (startAt + SecondProbe < bytes.size) {
            const BYTE fifth = bytes.data[startAt + SecondProbe];
            const std::size_t key = (std::size_t{first} << 8) | fifth;
            if ((pairUsed_[key / 64] >> (key % 64)) & 1)
                lists.Add(byPair_.data() + offsets_[key], byPair_.data() + offsets_[key + 1]);
            Add(lists, firstByteOnly_[first]);
            Add(lists, fifthByteOnly_[fifth]);
            Add(lists, neitherByte_);
        } else {
            Add(lists, byFirstByte_[first]);
            Add(lists, anyFirstByte_);
        }
        return lists;
    }

private:
    static constexpr std::size_t KeyCount = 65536;

    static void Add(Lists& lists, const std::vector<Candidate>& list) {
        lists.Add(list.data(), list.data() + list.size());
    }
    static std::uint32_t Next(const std::vector<Candidate>& all) { return static_cast<std::uint32_t>(all.size()); }

    // The literal byte a candidate requires at a position, or -1 for any.
    static int Literal(const Candidate& candidate, std::size_t position) {
        if (!candidate.signature || candidate.signature->StartLength() <= position) return -1;
        const PatternEntry entry = candidate.signature->StartEntry(position);
        return entry < 256 ? entry : -1;
    }
    static std::size_t Key(const Candidate& candidate) {
        return (static_cast<std::size_t>(Literal(candidate, 0)) << 8) |
               static_cast<std::size_t>(Literal(candidate, SecondProbe));
    }

    std::array<std::vector<Candidate>, 256> byFirstByte_;   // every candidate with a literal first byte
    std::array<std::vector<Candidate>, 256> firstByteOnly_; // of those, the ones without a literal fifth
    std::vector<Candidate> anyFirstByte_;                    // every candidate without a literal first byte
    std::array<std::vector<Candidate>, 256> fifthByteOnly_;  // of those, the ones with a literal fifth
    std::vector<Candidate> neitherByte_;
    std::vector<Candidate> outsideBuffer_; // positions with no byte under them
    std::vector<std::uint32_t> offsets_ = std::vector<std::uint32_t>(KeyCount + 1);
    std::vector<Candidate> byPair_;
    // One bit per key with candidates: 8 KiB that stay in the cache, where
    // the offsets would miss it for nearly every sector of photo data.
    std::array<std::uint64_t, KeyCount / 64> pairUsed_{};
};

std::u16string TypeExtension(ISupportedFileType* held) {
    if (SupportedFileType* type = ImplementationOf<SupportedFileType>(held)) return type->ExtensionText();
    BSTR text = nullptr;
    if (FAILED(held->get_FileExtension(&text))) return {};
    std::u16string result = BstrText(text);
    SysFreeString(text);
    return result;
}

void ReplaceText(BSTR* slot, const std::u16string& text) {
    if (*slot && BstrText(*slot) == text) return; // already the caller's text
    BSTR fresh = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    SysFreeString(*slot);
    *slot = fresh;
}

void ReplaceSignature(IFileSignature** slot, IFileSignature* signature) {
    if (*slot == signature) return;
    signature->AddRef();
    if (*slot) (*slot)->Release();
    *slot = signature;
}

class SupportedFileTypes final : public DispatchObject<ISupportedFileTypes, IID_ISupportedFileTypes> {
public:
    HRESULT STDMETHODCALLTYPE get_FileType(SHORT item, ISupportedFileType** pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = nullptr;
        if (item >= 0 && static_cast<std::size_t>(item) < types_.size()) {
            *pVal = types_[item].Get();
            (*pVal)->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ItemCount(LONG* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = static_cast<LONG>(types_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SectorSize(LONG* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = LibrarySectorSize();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_SectorSize(LONG newVal) override {
        SetLibrarySectorSize(newVal);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_EditMode(VARIANT_BOOL* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = editMode_ ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_EditMode(VARIANT_BOOL newVal) override {
        editMode_ = newVal != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddFileType(ISupportedFileType* objType) override {
        if (!objType) return S_OK;
        return Guarded([&] {
            types_.reserve(types_.size() + 1); // the set stays unchanged when the list cannot grow
            RemoveFileType(objType);
            if (types_.size() >= MaxTypes) return E_FAIL;
            types_.emplace_back(objType);
            NoteEdit();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE RemoveFileType(ISupportedFileType* objType) override {
        if (!objType) return S_OK;
        return Guarded([&] {
            const std::u16string extension = TypeExtension(objType);
            for (auto it = types_.begin(); it != types_.end(); ++it) {
                if (TypeExtension(it->Get()) == extension) {
                    types_.erase(it);
                    NoteEdit();
                    break;
                }
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE FindMatchingStart(VARIANT varSeq, LONG lngStartAt, IFileSignature** objSig,
                                                BSTR* strFileExt, VARIANT_BOOL* blnMatch) override {
        if (!blnMatch || !objSig || !strFileExt) return E_POINTER;
        *blnMatch = 0;
        ByteSpan bytes;
        if (!ByteSpanOf(varSeq, &bytes)) return SearchEveryType(varSeq, lngStartAt, objSig, strFileExt, blnMatch);
        return Guarded([&] {
            if (indexGeneration_ != EditGeneration()) {
                index_.Rebuild(types_);
                indexGeneration_ = EditGeneration();
            }
            StartIndex::Lists candidates = index_.At(bytes, lngStartAt);
            while (const Candidate* candidate = candidates.Next()) {
                HRESULT hr = Try(*candidate, varSeq, bytes, lngStartAt, objSig, strFileExt, blnMatch);
                if (FAILED(hr) || *blnMatch) return hr;
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Serialise(VARIANT* varData) override {
        if (!varData) return E_POINTER;
        return Guarded([&] {
            std::vector<BYTE> out;
            PutU16(out, static_cast<unsigned>(types_.size()));
            for (const auto& type : types_) {
                VARIANT bytes;
                VariantInit(&bytes);
                HRESULT hr = type->Serialise(&bytes);
                if (FAILED(hr)) return hr;
                ByteSpan span;
                if (ByteSpanOf(bytes, &span) && span.size > 0) out.insert(out.end(), span.data, span.data + span.size);
                VariantClear(&bytes);
            }
            ClearOut(varData);
            return MakeByteArray(out, varData);
        });
    }
    HRESULT STDMETHODCALLTYPE Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) override {
        ByteSpan bytes;
        if (!ByteSpanOf(varData, &bytes)) return E_INVALIDARG;
        if (!lngStart || !blnCompleted) return E_POINTER;
        *blnCompleted = 0;
        return Guarded([&] {
            std::int64_t p = *lngStart;
            const std::int64_t n = bytes.size;
            if (p < 0 || p + 2 > n) return Failed();
            const auto count = static_cast<SHORT>(GetU16(bytes, p));
            p += 2;
            for (SHORT i = 0; i < count; ++i) {
                platform::ComPtr<ISupportedFileType> type;
                if (FAILED(CreateLibraryObject(CLSID_SupportedFileType, IID_ISupportedFileType, &type))) return E_FAIL;
                if (p >= n) return Failed();
                LONG at = static_cast<LONG>(p);
                VARIANT_BOOL read = 0;
                HRESULT hr = type->Deserialise(varData, &at, &read);
                if (FAILED(hr)) {
                    Empty();
                    return hr;
                }
                if (!read) return Failed();
                p = at;
                VARIANT_BOOL allowSearch = 0;
                type->get_AllowSearch(&allowSearch);
                if (editMode_ || allowSearch) {
                    hr = AddFileType(type.Get());
                    if (FAILED(hr)) {
                        Empty();
                        return hr;
                    }
                }
            }
            *lngStart = static_cast<LONG>(p);
            *blnCompleted = 1;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR strFileName, VARIANT_BOOL* blnSuccess) override {
        if (!blnSuccess) return E_POINTER;
        *blnSuccess = 0;
        return Guarded([&] {
            const std::u16string name = BstrText(strFileName);
            std::vector<BYTE> contents;
            if (name.empty() || !ReadWholeFile(platform::Utf8FromUtf16(name), &contents)) return S_OK;
            platform::BorrowedByteArray array(contents.data(), static_cast<ULONG>(contents.size()));
            VARIANT data = array.ByRefVariant();
            LONG position = 0;
            HRESULT hr = Deserialise(data, &position, blnSuccess);
            if (SUCCEEDED(hr) && *blnSuccess) lastFileName_ = name;
            return hr;
        });
    }
    HRESULT STDMETHODCALLTYPE SaveToFile(BSTR strFileName, VARIANT_BOOL* blnSuccess) override {
        if (!blnSuccess) return E_POINTER;
        *blnSuccess = 0;
        return Guarded([&] {
            std::u16string name = BstrText(strFileName);
            if (name.empty() && lastFileName_) name = *lastFileName_;
            if (name.empty()) return S_OK;
            VARIANT data;
            VariantInit(&data);
            HRESULT hr = Serialise(&data);
            if (FAILED(hr)) return hr;
            ByteSpan bytes;
            ByteSpanOf(data, &bytes);
            *blnSuccess = WriteWholeFile(platform::Utf8FromUtf16(name), bytes) ? 1 : 0;
            VariantClear(&data);
            return S_OK;
        });
    }

private:
    HRESULT Try(const Candidate& candidate, const VARIANT& varSeq, const ByteSpan& bytes, LONG startAt,
                IFileSignature** objSig, BSTR* strFileExt, VARIANT_BOOL* blnMatch) {
        if (candidate.foreignType) {
            HRESULT hr = candidate.foreignType->MatchesAtStart(varSeq, startAt, objSig, blnMatch);
            if (FAILED(hr)) return hr;
            if (*blnMatch) ReplaceText(strFileExt, TypeExtension(candidate.foreignType));
            return S_OK;
        }
        IFileSignature* matched = nullptr;
        if (candidate.signature) {
            if (candidate.signature->MatchesStartAt(bytes, startAt)) matched = candidate.signature;
        } else {
            HRESULT hr = candidate.foreignSignature->MatchesStart(varSeq, startAt, blnMatch);
            if (FAILED(hr)) return hr;
            if (*blnMatch) matched = candidate.foreignSignature;
        }
        if (!matched) {
            *blnMatch = 0;
            return S_OK;
        }
        ReplaceSignature(objSig, matched);
        ReplaceText(strFileExt, candidate.type->ExtensionText());
        *blnMatch = 1;
        return S_OK;
    }

    // The search as each type answers it; used when the data is no byte
    // array, so that the types report that as they would.
    HRESULT SearchEveryType(VARIANT varSeq, LONG startAt, IFileSignature** objSig, BSTR* strFileExt,
                            VARIANT_BOOL* blnMatch) {
        for (const auto& type : types_) {
            HRESULT hr = type->MatchesAtStart(varSeq, startAt, objSig, blnMatch);
            if (FAILED(hr)) return hr;
            if (*blnMatch) {
                ReplaceText(strFileExt, TypeExtension(type.Get()));
                break;
            }
        }
        return S_OK;
    }

    HRESULT Failed() {
        Empty();
        return S_OK;
    }
    void Empty() {
        types_.clear();
        NoteEdit();
    }

    static bool ReadWholeFile(const std::string& path, std::vector<BYTE>* contents) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return false;
        bool ok = std::fseek(file, 0, SEEK_END) == 0;
        long length = ok ? std::ftell(file) : -1;
        ok = ok && length >= 0 && length <= 0x7FFFFFFF && std::fseek(file, 0, SEEK_SET) == 0;
        if (ok) {
            contents->resize(static_cast<std::size_t>(length));
            ok = std::fread(contents->data(), 1, contents->size(), file) == contents->size();
        }
        std::fclose(file);
        return ok;
    }
    static bool WriteWholeFile(const std::string& path, const ByteSpan& bytes) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return false;
        const auto size = static_cast<std::size_t>(bytes.size);
        bool ok = size == 0 || std::fwrite(bytes.data, 1, size, file) == size;
        // Bytes still in the stream's buffer reach the file only at close.
        ok = (std::fclose(file) == 0) && ok;
        return ok;
    }

    std::vector<platform::ComPtr<ISupportedFileType>> types_;
    bool editMode_ = false;
    std::optional<std::u16string> lastFileName_;
    StartIndex index_;
    std::uint64_t indexGeneration_ = 0;
};

} // namespace

HRESULT CreateSupportedFileTypes(REFIID riid, void** object) {
    return CreateObject<SupportedFileTypes>(riid, object);
}

} // namespace typhex
