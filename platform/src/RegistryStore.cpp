#include "RegistryStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/registry.h"

namespace platform {

namespace {

constexpr const char* kProgramFolderStoreName = "registry";

// A store file beside the running executable, when there is one: a build
// tree's program folder has one (the build registers its library there), so
// that programs run from a build never read or write the user's own store.
// Decided once per process; an installed program folder has none.
const std::string& ProgramFolderStore() {
    static const std::string path = [] {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return std::string();
        std::string folder(exe, static_cast<std::size_t>(n));
        std::size_t slash = folder.find_last_of('/');
        if (slash == std::string::npos) return std::string();
        std::string store = folder.substr(0, slash) + "/" + kProgramFolderStoreName;
        struct stat st {};
        return stat(store.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? store : std::string();
    }();
    return path;
}

} // namespace

std::string RegistryStorePath() {
    if (const char* explicitPath = std::getenv("TRANQUO_REGISTRY"); explicitPath && *explicitPath) return explicitPath;
    if (const std::string& local = ProgramFolderStore(); !local.empty()) return local;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return std::string(config) + "/tranquo/registry";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    } else {
        home = "/tmp";
    }
    return home + "/.config/tranquo/registry";
}

bool RegistryStoreWritable(std::string* why) {
    const std::string path = RegistryStorePath();
    auto refuse = [&](const std::string& reason) {
        if (why) *why = "the settings store " + path + " cannot be written: " + reason;
        return false;
    };
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return ::access(path.c_str(), W_OK) == 0 ? true : refuse(std::strerror(errno));
    // The nearest folder that exists must be one, and writable.
    std::string folder = path;
    for (;;) {
        auto slash = folder.find_last_of('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        if (::stat(folder.c_str(), &info) == 0) break;
        if (folder == "/" || folder == ".") return refuse("no folder to hold it");
    }
    if (!S_ISDIR(info.st_mode)) return refuse(folder + " is not a folder");
    if (::access(folder.c_str(), W_OK) != 0) return refuse(folder + ": " + std::strerror(errno));
    return true;
}

void ReloadRegistry() { registry::Store::Instance().Forget(); }

RegistryBatch::RegistryBatch() { registry::Store::Instance().BeginBatch(); }

RegistryBatch::~RegistryBatch() { Commit(); }

LONG RegistryBatch::Commit() {
    if (!open_) return ERROR_SUCCESS;
    open_ = false;
    return registry::Store::Instance().EndBatch();
}

} // namespace platform

namespace platform::registry {

namespace {

constexpr const char* kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                                "HKEY_USERS"};
// A store larger than this is not a registry file; refuse rather than load it.
constexpr off_t kMaxStoreBytes = 64 * 1024 * 1024;

const char kHex[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Backslash escapes for value names and texts; `extra` lists characters that
// must not appear raw (for names: those that would end or start a field).
std::string Escape(std::string_view bytes, std::string_view extra) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (b < 0x20 || b == 0x7F || extra.find(c) != std::string_view::npos) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

bool Unescape(std::string_view text, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            *out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
            *out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

// Key names never hold a backslash (it separates them), so headers use "%HH".
std::string EscapeKeyName(std::string_view name) {
    std::string out;
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '%' || c == ']' || c == '[' || c == '\\') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

bool UnescapeKeyName(std::string_view text, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0) return false;
        *out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
    }
    return !out->empty();
}

std::string FormatData(const Value& value) {
    const auto* bytes = reinterpret_cast<const char*>(value.data.data());
    std::string_view view(bytes, value.data.size());
    if (value.type == REG_SZ) {
        if (!view.empty() && view.back() == '\0') return "sz:" + Escape(view.substr(0, view.size() - 1), "");
        return "sz-raw:" + Escape(view, "");
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD d = static_cast<DWORD>(value.data[0]) | static_cast<DWORD>(value.data[1]) << 8 |
                  static_cast<DWORD>(value.data[2]) << 16 | static_cast<DWORD>(value.data[3]) << 24;
        char text[16];
        std::snprintf(text, sizeof text, "%08X", d);
        return std::string("dword:") + text;
    }
    std::string out = "hex(" + std::to_string(value.type) + "):";
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        if (i) out += ',';
        out += kHex[value.data[i] >> 4];
        out += kHex[value.data[i] & 15];
    }
    return out;
}

bool ParseData(std::string_view text, Value* value) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view kind = text.substr(0, colon), body = text.substr(colon + 1);
    std::string raw;
    if (kind == "sz" || kind == "sz-raw") {
        if (!Unescape(body, &raw)) return false;
        if (kind == "sz") raw += '\0';
        value->type = REG_SZ;
        value->data.assign(raw.begin(), raw.end());
        return true;
    }
    if (kind == "dword") {
        if (body.size() != 8) return false;
        DWORD d = 0;
        for (char c : body) {
            if (HexValue(c) < 0) return false;
            d = d << 4 | static_cast<DWORD>(HexValue(c));
        }
        value->type = REG_DWORD;
        value->data = {static_cast<BYTE>(d), static_cast<BYTE>(d >> 8), static_cast<BYTE>(d >> 16),
                       static_cast<BYTE>(d >> 24)};
        return true;
    }
    if (kind.size() > 5 && kind.substr(0, 4) == "hex(" && kind.back() == ')') {
        std::string number(kind.substr(4, kind.size() - 5));
        char* end = nullptr;
        errno = 0;
        unsigned long type = std::strtoul(number.c_str(), &end, 10);
        if (number.empty() || *end || errno || type > 0xFFFFFFFFul) return false;
        value->type = static_cast<DWORD>(type);
        value->data.clear();
        for (std::size_t i = 0; i < body.size(); i += 3) {
            if (i + 2 > body.size() || HexValue(body[i]) < 0 || HexValue(body[i + 1]) < 0) return false;
            if (i + 2 < body.size() && body[i + 2] != ',') return false;
            value->data.push_back(static_cast<BYTE>(HexValue(body[i]) * 16 + HexValue(body[i + 1])));
        }
        return true;
    }
    return false;
}

void SerialiseKey(const Key& key, const std::string& path, bool isRoot, std::string* out) {
    if (!isRoot || !key.values.empty()) {
        *out += "\n[" + path + "]\n";
        for (const auto& [folded, value] : key.values) {
            *out += value.name.empty() ? std::string("@") : Escape(value.name, "=@[;#");
            *out += '=';
            *out += FormatData(value);
            *out += '\n';
        }
    }
    for (const auto& [folded, sub] : key.subkeys) SerialiseKey(*sub, path + "\\" + EscapeKeyName(sub->name), false, out);
}

bool MakeDirectories(const std::string& folder) {
    if (folder.empty()) return true;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(folder.substr(0, slash))) return false;
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string ParentFolder(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text->clear();
    char chunk[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text->append(chunk, static_cast<std::size_t>(n));
        if (text->size() > static_cast<std::size_t>(kMaxStoreBytes)) {
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
}

LONG ErrorFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOENT:
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    default: return ERROR_WRITE_FAULT;
    }
}

} // namespace

std::string Fold(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

const char* RootName(int root) { return root >= 0 && root < kRootCount ? kRootNames[root] : ""; }

std::string Serialise(const Tree& tree) {
    std::string out = "; Tranquo registry store: one [key] section per key, name=type:value lines.\n";
    for (int r = 0; r < kRootCount; ++r) SerialiseKey(tree.roots[r], kRootNames[r], true, &out);
    return out;
}

void Parse(std::string_view text, Tree* tree, int* badLines) {
    for (Key& root : tree->roots) {
        root.values.clear();
        root.subkeys.clear();
    }
    *badLines = 0;
    Key* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            current = nullptr;
            if (line.back() != ']') {
                ++*badLines;
                continue;
            }
            std::string_view path = line.substr(1, line.size() - 2);
            std::size_t slash = path.find('\\');
            std::string rootName = Fold(path.substr(0, slash));
            int root = -1;
            for (int r = 0; r < kRootCount; ++r)
                if (rootName == Fold(kRootNames[r])) root = r;
            if (root < 0) {
                ++*badLines;
                continue;
            }
            Key* key = &tree->roots[root];
            bool ok = true;
            while (slash != std::string_view::npos) {
                std::size_t next = path.find('\\', slash + 1);
                std::string name;
                if (!UnescapeKeyName(path.substr(slash + 1, next == std::string_view::npos ? next : next - slash - 1), &name)) {
                    ok = false;
                    break;
                }
                auto& slot = key->subkeys[Fold(name)];
                if (!slot) {
                    slot = std::make_unique<Key>();
                    slot->name = name;
                }
                key = slot.get();
                slash = next;
            }
            if (!ok) {
                ++*badLines;
                continue;
            }
            current = key;
            continue;
        }
        std::size_t equals = line.find('=');
        Value value;
        if (!current || equals == std::string_view::npos || equals == 0) {
            ++*badLines;
            continue;
        }
        std::string_view rawName = line.substr(0, equals);
        if (rawName != "@" && !Unescape(rawName, &value.name)) {
            ++*badLines;
            continue;
        }
        if (!ParseData(line.substr(equals + 1), &value)) {
            ++*badLines;
            continue;
        }
        std::string folded = Fold(value.name);
        current->values[folded] = std::move(value);
    }
}

Store& Store::Instance() {
    static Store store;
    return store;
}

void Store::BeginBatch() {
    std::lock_guard lock(mutex_);
    if (batchDepth_++ > 0) return;
    batchLock_.emplace(LockFile());
    batchDirty_ = false;
    Refresh();
}

LONG Store::EndBatch() {
    std::lock_guard lock(mutex_);
    if (batchDepth_ == 0 || --batchDepth_ > 0) return ERROR_SUCCESS;
    LONG saved = ERROR_SUCCESS;
    if (batchDirty_) {
        saved = Save();
        if (saved != ERROR_SUCCESS) stale_ = true;
    }
    batchDirty_ = false;
    batchLock_.reset();
    return saved;
}

void Store::Forget() {
    std::lock_guard lock(mutex_);
    loaded_ = false;
}

Store::FileLock::~FileLock() {
    if (fd_ >= 0) {
        flock(fd_, LOCK_UN);
        close(fd_);
    }
}

// Writers in other processes are kept out by a lock on the store's folder,
// so that no change of theirs is overwritten by a stale copy of ours.
Store::FileLock Store::LockFile() {
    std::string folder = ParentFolder(platform::RegistryStorePath());
    MakeDirectories(folder);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    return FileLock(fd);
}

Store::FileIdentity Store::Identify(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return id;
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return id;
}

void Store::Refresh() {
    std::string path = platform::RegistryStorePath();
    if (loaded_ && !stale_ && path == path_ && Identify(path) == identity_) return;
    path_ = path;
    Load();
}

void Store::Load() {
    loaded_ = true;
    stale_ = false;
    writable_ = true;
    hadBadLines_ = false;
    Tree fresh;
    identity_ = Identify(path_);
    if (identity_.exists) {
        std::string text;
        bool readOk = identity_.size <= kMaxStoreBytes && ReadWholeFile(path_, &text);
        if (!readOk) {
            // A store that exists but cannot be read is never overwritten.
            writable_ = false;
        } else {
            int bad = 0;
            Parse(text, &fresh, &bad);
            hadBadLines_ = bad > 0;
        }
    }
    for (int r = 0; r < kRootCount; ++r) {
        tree_.roots[r].values = std::move(fresh.roots[r].values);
        tree_.roots[r].subkeys = std::move(fresh.roots[r].subkeys);
        tree_.roots[r].name = kRootNames[r];
    }
}

LONG Store::Save() {
    std::string folder = ParentFolder(path_);
    if (!MakeDirectories(folder)) return ErrorFromErrno(errno);
    static unsigned counter = 0;
    std::string temp = path_ + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return ErrorFromErrno(errno);
    struct stat old {};
    if (stat(path_.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    std::string text = Serialise(tree_);
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && hadBadLines_) {
        // Lines this version could not read are kept in a copy, not lost.
        std::string keep = path_ + ".bad";
        unlink(keep.c_str());
        link(path_.c_str(), keep.c_str());
    }
    if (ok && rename(temp.c_str(), path_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        return ErrorFromErrno(error);
    }
    hadBadLines_ = false;
    identity_ = Identify(path_);
    return ERROR_SUCCESS;
}

} // namespace platform::registry
