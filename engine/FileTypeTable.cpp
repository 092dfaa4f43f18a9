#include "engine/FileTypeTable.h"

#include "engine/ExtensionAliases.h"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

#include "Typhex.h"
#include "platform/com.h"
#include "platform/oleauto.h"
#include "support/ProgramFolder.h"
#include "support/RuntimeError.h"

namespace engine {

namespace {

constexpr const char* DatabaseFileName = "settings.zq4";
constexpr long ErrCannotCreateObject = 429;

struct FileTypeTableState {
    platform::ComPtr<ISupportedFileTypes> types;
    bool loadedForTests = false;
    std::int32_t count = 0;
    std::vector<std::string> extensions;
    std::vector<support::Truth> allowSearch;
};

FileTypeTableState& State() {
    static FileTypeTableState state;
    return state;
}

platform::ComPtr<ILargeFile>& SharedLargeFile() {
    static platform::ComPtr<ILargeFile> writer;
    return writer;
}

std::string LibraryPath() { return support::ProgramFolder() + "/libTyphex.so"; }

template <class T>
platform::ComPtr<T> CreateLibraryObject(REFCLSID clsid, REFIID iid, const char* name) {
    platform::EnsureClassRegistered(clsid, LibraryPath());
    platform::ComPtr<T> object;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.PutVoid());
    if (FAILED(hr) || !object) {
        std::string why = platform::LastActivationError();
        throw support::RuntimeError(ErrCannotCreateObject, "Tranquo",
                                    std::string("ActiveX component can't create object (") + name + ")" +
                                        (why.empty() ? "" : ": " + why));
    }
    return object;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

void LoadFileTypeData() {
    auto& state = State();
    if (state.types) return;
    const std::string databasePath = support::ProgramFolder() + "/" + DatabaseFileName;
    // Reading a FIFO, socket or terminal would wait for ever: anything that
    // is there but is neither a file nor a block device is refused at once.
    struct stat info {};
    if (::stat(databasePath.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
        throw support::RuntimeError(support::ErrFileNotFound, "Fotrida 4",
                                    std::string("Unable to load file type data from ") + DatabaseFileName + " (" +
                                        databasePath + " is not a file)");
    auto types = CreateLibraryObject<ISupportedFileTypes>(CLSID_SupportedFileTypes, IID_ISupportedFileTypes,
                                                          "Typhex.SupportedFileTypes");
    types->put_EditMode(VARIANT_FALSE);
    BSTR path = platform::BstrFromUtf8(databasePath);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = types->LoadFromFile(path, &loaded);
    SysFreeString(path);
    if (FAILED(hr) || loaded == VARIANT_FALSE)
        throw support::RuntimeError(support::ErrFileNotFound, "Fotrida 4",
                                    std::string("Unable to load file type data from ") + DatabaseFileName);

    LONG count = 0;
    types->get_ItemCount(&count);
    count = std::max<LONG>(count, 0);
    std::vector<std::string> extensions(static_cast<std::size_t>(count));
    std::vector<support::Truth> allow(static_cast<std::size_t>(count), support::False);
    for (LONG i = 0; i < count && i <= 0x7FFF; ++i) {
        platform::ComPtr<ISupportedFileType> type;
        types->get_FileType(static_cast<SHORT>(i), type.Put());
        if (!type) continue;
        BSTR extension = nullptr;
        type->get_FileExtension(&extension);
        extensions[static_cast<std::size_t>(i)] = Upper(platform::Utf8FromBstr(extension));
        SysFreeString(extension);
        VARIANT_BOOL search = VARIANT_FALSE;
        type->get_AllowSearch(&search);
        allow[static_cast<std::size_t>(i)] = support::ToTruth(search != VARIANT_FALSE);
    }
    state.types = std::move(types);
    state.loadedForTests = false;
    state.count = count;
    state.extensions = std::move(extensions);
    state.allowSearch = std::move(allow);
}

ISupportedFileTypes* FileTypes() { return State().types.Get(); }

void ReleaseFileTypes() {
    State().types.Reset();
    State().loadedForTests = false;
}

std::int32_t FileTypeCount() { return State().count; }
const std::vector<std::string>& FileTypeExtensions() { return State().extensions; }
const std::vector<support::Truth>& FileTypeAllowSearch() { return State().allowSearch; }

support::Truth IsSearchableExtension(const std::string& extension) {
    const auto& state = State();
    if (!state.types && !state.loadedForTests) return support::False;
    const std::string wanted = Upper(Trim(extension));
    for (std::size_t i = 0; i < state.extensions.size(); ++i)
        if (state.extensions[i] == wanted) return state.allowSearch[i];
    // A type of its own in the database decides first; a variant spelling
    // ("JPEG") follows the type it spells.
    const std::string alias = ExtensionAliasOf(wanted);
    for (std::size_t i = 0; i < state.extensions.size() && !alias.empty(); ++i)
        if (state.extensions[i] == alias) return state.allowSearch[i];
    return support::False;
}

void UseFileTypeTableForTests(const std::vector<std::pair<std::string, bool>>& types) {
    auto& state = State();
    state.types.Reset();
    state.loadedForTests = !types.empty();
    state.extensions.clear();
    state.allowSearch.clear();
    for (const auto& [extension, allow] : types) {
        state.extensions.push_back(Upper(extension));
        state.allowSearch.push_back(support::ToTruth(allow));
    }
    state.count = static_cast<std::int32_t>(types.size());
}

platform::ComPtr<ILargeFile> NewLargeFile() {
    return CreateLibraryObject<ILargeFile>(CLSID_LargeFile, IID_ILargeFile, "Typhex.LargeFile");
}

support::Truth OpenOutputFile(const std::string& path) {
    auto& writer = SharedLargeFile();
    if (!writer) writer = NewLargeFile();
    return OpenOutputFile(*writer.Get(), path);
}

support::Truth OpenOutputFile(ILargeFile& writer, const std::string& path) {
    BSTR name = platform::BstrFromUtf8(path);
    VARIANT_BOOL opened = VARIANT_FALSE;
    const HRESULT hr = writer.OpenFile(name, VARIANT_TRUE, &opened);
    SysFreeString(name);
    return support::ToTruth(SUCCEEDED(hr) && opened != VARIANT_FALSE);
}

std::int32_t WriteOutputChunk(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count) {
    auto& writer = SharedLargeFile();
    if (!writer) return -1;
    return WriteOutputChunk(*writer.Get(), data, size, start, count);
}

std::int32_t WriteOutputChunk(ILargeFile& writer, BYTE* data, std::size_t size, std::int32_t start,
                              std::int32_t count) {
    if (start < 0 || count < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(count) > size) return -1;
    if (count == 0) return 0;
    platform::BorrowedByteArray array(data, static_cast<ULONG>(size));
    VARIANT buffer = array.ByRefVariant();
    LONG written = -1;
    const HRESULT hr = writer.WriteData(buffer, start, count, &written);
    if (FAILED(hr)) return -1;
    return written;
}

std::int32_t WriteOutputChunk(std::vector<BYTE>& buffer, std::int32_t start, std::int32_t count) {
    return WriteOutputChunk(buffer.data(), buffer.size(), start, count);
}

support::Truth CloseOutputFile() {
    auto& writer = SharedLargeFile();
    if (!writer) return support::True;
    return CloseOutputFile(*writer.Get());
}

support::Truth CloseOutputFile(ILargeFile& writer) {
    VARIANT_BOOL closed = VARIANT_FALSE;
    const HRESULT hr = writer.CloseFile(&closed);
    return support::ToTruth(SUCCEEDED(hr) && closed != VARIANT_FALSE);
}

} // namespace engine
