// Shared by the library's tests: a private registry store in which the
// built library is registered, so that every object is made through
// activation as the program makes it, and small Variant and text helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Typhex.h"
#include "platform/com.h"
#include "platform/oleauto.h"
#include "platform/registry.h"

namespace typhextest {

using platform::ComPtr;

inline std::filesystem::path PrivateFolder() {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("typhex-tests-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

// Registers the built library in a store of the test's own, once.
inline void RegisterLibraryOnce() {
    static const HRESULT registered = [] {
        const std::string store = (PrivateFolder() / "registry").string();
        ::setenv("TRANQUO_REGISTRY", store.c_str(), 1);
        platform::ReloadRegistry();
        return platform::RegisterServer(TYPHEX_LIBRARY_FILE);
    }();
    ASSERT_EQ(registered, S_OK) << platform::LastActivationError();
}

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterLibraryOnce(); }

    template <class I>
    static ComPtr<I> Make(REFCLSID clsid, REFIID iid) {
        ComPtr<I> object;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.PutVoid()), S_OK);
        return object;
    }
    static ComPtr<IByteValue> NewByteValue() { return Make<IByteValue>(CLSID_ByteValue, IID_IByteValue); }
    static ComPtr<IFileContent> NewContent() { return Make<IFileContent>(CLSID_FileContent, IID_IFileContent); }
    static ComPtr<IFileSignature> NewSignature() {
        return Make<IFileSignature>(CLSID_FileSignature, IID_IFileSignature);
    }
    static ComPtr<ISupportedFileType> NewType() {
        return Make<ISupportedFileType>(CLSID_SupportedFileType, IID_ISupportedFileType);
    }
    static ComPtr<ISupportedFileTypes> NewSet() {
        return Make<ISupportedFileTypes>(CLSID_SupportedFileTypes, IID_ISupportedFileTypes);
    }
};

// An owned Variant.
class Var {
public:
    Var() { VariantInit(&v_); }
    ~Var() { VariantClear(&v_); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    VARIANT* operator&() { return &v_; }
    VARIANT& get() { return v_; }
    VARIANT value() const { return v_; }

private:
    VARIANT v_;
};

// A byte array Variant (VT_ARRAY|VT_UI1) holding a copy of the bytes.
inline void FillBytes(Var& var, const std::vector<BYTE>& bytes, LONG lowerBound = 0) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, lowerBound, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(array->pvData));
    var.get().vt = VT_ARRAY | VT_UI1;
    var.get().parray = array;
}

inline std::vector<BYTE> BytesOf(const VARIANT& v) {
    EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
    if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray) return {};
    const BYTE* data = static_cast<const BYTE*>(v.parray->pvData);
    return std::vector<BYTE>(data, data + v.parray->rgsabound[0].cElements);
}

inline std::vector<BYTE> Hex(const std::string& text) {
    std::vector<BYTE> bytes;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

// An owned text.
class Text {
public:
    Text() = default;
    explicit Text(const char* utf8) : b_(platform::BstrFromUtf8(utf8)) {}
    ~Text() { SysFreeString(b_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR* operator&() { return &b_; }
    BSTR get() const { return b_; }
    std::string str() const { return platform::Utf8FromBstr(b_); }

private:
    BSTR b_ = nullptr;
};

inline std::string ToText(IFileSignature* signature) {
    Text text;
    signature->ToString(&text);
    return text.str();
}

inline std::string ToText(IFileContent* content) {
    Text text;
    content->ToString(&text);
    return text.str();
}

// A ByteValue array (VT_ARRAY|VT_DISPATCH) for the entries, 256 = any byte.
inline void FillPattern(Var& var, const std::vector<int>& entries) {
    SAFEARRAY* array =
        SafeArrayCreateVectorEx(VT_DISPATCH, 0, static_cast<ULONG>(entries.size()), const_cast<GUID*>(&IID_IByteValue));
    auto** slots = static_cast<IDispatch**>(array->pvData);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        IByteValue* value = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_ByteValue, nullptr, CLSCTX_INPROC_SERVER, IID_IByteValue,
                                   reinterpret_cast<void**>(&value)),
                  S_OK);
        value->Deserialise(static_cast<SHORT>(entries[i]));
        slots[i] = value;
    }
    var.get().vt = VT_ARRAY | VT_DISPATCH;
    var.get().parray = array;
}

// A signature with the given start pattern (hex with xx), made through the interface.
inline ComPtr<IFileSignature> SignatureWithStart(const std::string& pattern) {
    ComPtr<IFileSignature> signature;
    EXPECT_EQ(CoCreateInstance(CLSID_FileSignature, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSignature,
                               signature.PutVoid()),
              S_OK);
    std::vector<int> entries;
    for (std::size_t i = 0; i + 1 < pattern.size(); i += 2) {
        const std::string pair = pattern.substr(i, 2);
        entries.push_back(pair == "xx" ? 256 : static_cast<int>(std::stoul(pair, nullptr, 16)));
    }
    Var sequence;
    FillPattern(sequence, entries);
    EXPECT_EQ(signature->put_StartSequence(sequence.value()), S_OK);
    return signature;
}

inline ComPtr<ISupportedFileType> TypeWith(const char* extension, std::initializer_list<const char*> starts,
                                           bool allowSearch = true) {
    ComPtr<ISupportedFileType> type;
    EXPECT_EQ(CoCreateInstance(CLSID_SupportedFileType, nullptr, CLSCTX_INPROC_SERVER, IID_ISupportedFileType,
                               type.PutVoid()),
              S_OK);
    Text text(extension);
    type->put_FileExtension(text.get());
    type->put_AllowSearch(allowSearch ? 1 : 0);
    for (const char* start : starts) type->AddSignature(SignatureWithStart(start).Get());
    return type;
}

} // namespace typhextest
