#include "wizard/RecoveryReport.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/utsname.h>
#include <fcntl.h>
#include <unistd.h>

#include "engine/DirEntry.h"
#include "engine/NewOutputFile.h"
#include "platform/oleauto.h"
#include "engine/Sha256.h"

#ifndef TRANQUO_VERSION_MAJOR
#define TRANQUO_VERSION_MAJOR 0
#define TRANQUO_VERSION_MINOR 0
#define TRANQUO_VERSION_PATCH 0
#endif

namespace wizard {

namespace {

namespace fs = std::filesystem;

constexpr const char* DfxmlNamespace = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
// Our own elements, where DFXML has none (what a file was saved as, how the
// run ended).
constexpr const char* OwnNamespace = "urn:x-tranquo:recovery-report:1";

#define STRINGIFY2(x) #x
#define STRINGIFY(x) STRINGIFY2(x)
constexpr const char* ProgramVersion =
    STRINGIFY(TRANQUO_VERSION_MAJOR) "." STRINGIFY(TRANQUO_VERSION_MINOR) "." STRINGIFY(TRANQUO_VERSION_PATCH);

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

const char* FatTypeText(std::int32_t type) {
    switch (type) {
    case 1: return "FAT12";
    case 2: return "FAT16";
    case 3: return "FAT32";
    case 4: return "exFAT";
    default: return "";
    }
}

const char* StateText(RunState state) {
    switch (state) {
    case RunState::Completed: return "completed";
    case RunState::CompletedWithErrors: return "completed with errors";
    case RunState::Stopped: return "stopped";
    case RunState::Failed: return "failed";
    default: return "running";
    }
}

std::string Element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + XmlText(value) + "</" + name + ">";
}

// A local time with the offset from UTC an exFAT entry gives (bit 7 set:
// the low 7 bits are signed 15-minute steps): "...T12:30:02+02:00".
std::string WithUtcOffset(const std::string& when, std::uint8_t offset) {
    if (when.empty() || !(offset & 0x80)) return when;
    const int steps = (offset & 0x40) ? static_cast<int>(offset & 0x7F) - 128 : (offset & 0x7F);
    const int minutes = steps < 0 ? -steps * 15 : steps * 15;
    char text[8];
    std::snprintf(text, sizeof text, "%c%02d:%02d", steps < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return when + text;
}

std::string TimeElement(const char* name, const std::string& when, int precision) {
    if (when.empty()) return "";
    return "    <" + std::string(name) + " prec=\"" + std::to_string(precision) + "\">" + when + "</" + name + ">\n";
}

} // namespace

std::string RecoveredFolder(const std::string& destinationRoot) {
    return destinationRoot + "My Recovered Mobile Device/";
}

std::string XmlText(const std::string& text) {
    constexpr std::uint32_t Replacement = 0xFFFD;
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        std::uint32_t cp = Replacement;
        std::size_t length = 1;
        if (c < 0x80) {
            cp = c;
        } else {
            const std::size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            bool ok = need > 0 && i + need <= n;
            std::uint32_t value = need == 4 ? (c & 0x07) : need == 3 ? (c & 0x0F) : (c & 0x1F);
            for (std::size_t k = 1; ok && k < need; ++k) {
                ok = (s[i + k] & 0xC0) == 0x80;
                value = (value << 6) | (s[i + k] & 0x3F);
            }
            // Overlong forms, surrogates and values past Unicode are not text.
            const std::uint32_t least = need == 4 ? 0x10000 : need == 3 ? 0x800 : 0x80;
            if (ok && value >= least && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) {
                cp = value;
                length = need;
            }
        }
        i += length;
        if (cp < 0x20 || cp == 0x7F || cp == 0xFFFE || cp == 0xFFFF) cp = Replacement;
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: platform::AppendUtf8(out, static_cast<char32_t>(cp)); break;
        }
    }
    return out;
}

std::string FatDateTime(std::uint16_t date, std::uint16_t time, int hundredths) {
    if (!engine::IsRealFatDate(date) || !engine::IsRealFatTime(time)) return {};
    const int year = 1980 + (date >> 9), month = (date >> 5) & 15, day = date & 31;
    const int hour = time >> 11, minute = (time >> 5) & 63;
    int second = (time & 31) * 2;
    if (hundredths < 0 || hundredths > 199) hundredths = 0;
    second += hundredths / 100;
    char text[40];
    if (hundredths % 100)
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%02d", year, month, day, hour, minute, second,
                      hundredths % 100);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

namespace {

// Writes content to a new file beside path, created exclusively. The name of
// the new file, or "" with errno.
std::string WriteBeside(const std::string& path, const std::string& content) {
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    static unsigned serial = 0;
    int fd = -1;
    std::string temp;
    for (int i = 0; i < 100 && fd < 0; ++i) {
        temp = folder + ".tranquo-report-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".part";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return "";
    }
    if (fd < 0) return "";
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == content.size();
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (written && closed) return temp;
    const int error = written ? errno : writeError;
    ::unlink(temp.c_str());
    errno = error;
    return "";
}

std::string Because(const std::string& what) { return what + ": " + std::strerror(errno); }

} // namespace

bool RecoveryReport::Open(const std::string& recoveredFolder, const std::string& extraPath, const ReportSource& source,
                          const std::string& commandLine, std::string* error) {
    recoveredFolder_ = recoveredFolder;
    if (!recoveredFolder_.empty() && recoveredFolder_.back() != '/') recoveredFolder_.push_back('/');
    volumeOffset_ = source.VolumeOffset;
    outputs_.clear();
    objects_.clear();
    savedAt_.clear();
    carvedAt_.clear();
    failure_.clear();
    std::error_code ec;
    fs::create_directories(recoveredFolder_, ec);
    if (ec) {
        if (error) *error = "cannot create the folder " + recoveredFolder_ + " for the report: " + ec.message();
        return false;
    }
    utsname system{};
    ::uname(&system);
    const engine::VolumeLayout& layout = source.Layout;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += std::string("<dfxml xmlns=\"") + DfxmlNamespace + "\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"" +
           " xmlns:tq=\"" + OwnNamespace + "\" version=\"2.0.0-beta.0\">\n";
    xml += "  <metadata>\n    <dc:type>Recovery report</dc:type>\n  </metadata>\n";
    xml += "  <creator>\n    " + Element("program", "Tranquo") + "\n    " + Element("version", ProgramVersion) + "\n";
    xml += "    <execution_environment>\n      " + Element("os_sysname", system.sysname) + "\n      " +
           Element("os_release", system.release) + "\n      " + Element("arch", system.machine) + "\n      " +
           Element("command_line", commandLine) + "\n      " + Element("start_time", UtcNow()) + "\n";
    xml += "    </execution_environment>\n  </creator>\n";
    xml += "  <source>\n    " + Element("image_filename", source.Path) + "\n  </source>\n";
    xml += "  <volume offset=\"" + std::to_string(source.VolumeOffset) + "\">\n";
    if (source.SectorSize > 0) xml += "    " + Element("sector_size", std::to_string(source.SectorSize)) + "\n";
    // A guessed layout (nothing could be read) is no fact about the card.
    if (layout.Usable && layout.Source == engine::LayoutSource::BootSector) {
        const std::int64_t clusterBytes = std::int64_t(layout.Boot.SectorsPerCluster) * layout.Boot.BytesPerSector;
        if (clusterBytes > 0) xml += "    " + Element("block_size", std::to_string(clusterBytes)) + "\n";
        if (*FatTypeText(layout.FATType)) xml += "    " + Element("ftype_str", FatTypeText(layout.FATType)) + "\n";
        xml += "    <tq:layout volume_bytes=\"" + std::to_string(source.VolumeBytes) + "\" fs_sector_size=\"" +
               std::to_string(layout.Boot.BytesPerSector) + "\" total_sectors=\"" +
               std::to_string(layout.TotalSectors) + "\" first_data_sector=\"" +
               std::to_string(layout.FirstDataSector) + "\" sectors_per_cluster=\"" +
               std::to_string(layout.Boot.SectorsPerCluster) + "\"/>\n";
    } else {
        xml += "    <tq:layout volume_bytes=\"" + std::to_string(source.VolumeBytes) + "\"/>\n";
    }
    xml += "  </volume>\n";
    head_ = std::move(xml);
    return CreateOutputs(extraPath, error);
}

// The first version of each report, under a name that no file has: an
// earlier run's report is never replaced, nor is whatever --report names.
bool RecoveryReport::CreateOutputs(const std::string& extraPath, std::string* error) {
    const std::string content = head_ + Tail();
    std::string temp = WriteBeside(recoveredFolder_ + "report.xml", content);
    bool named = false;
    for (int n = 1; !temp.empty() && !named && n < 100000; ++n) {
        path_ = recoveredFolder_ + (n == 1 ? std::string("report.xml") : "report (" + std::to_string(n) + ").xml");
        named = engine::RenameWithoutReplacing(temp, path_) == 0;
        if (!named && errno != EEXIST) break;
    }
    if (!named) {
        if (error) *error = Because("cannot create a report in " + recoveredFolder_);
        if (!temp.empty()) ::unlink(temp.c_str());
        path_.clear();
        return false;
    }
    lastSave_ = std::chrono::steady_clock::now();
    outputs_.push_back(path_);
    if (extraPath.empty()) return true;
    temp = WriteBeside(extraPath, content);
    if (temp.empty() || engine::RenameWithoutReplacing(temp, extraPath) != 0) {
        if (error) *error = Because("cannot create the report " + extraPath);
        if (!temp.empty()) ::unlink(temp.c_str());
        return false;
    }
    outputs_.push_back(extraPath);
    lastSave_ = std::chrono::steady_clock::now();
    return true;
}

void RecoveryReport::SetFilesFound(std::int64_t count) {
    filesFound_ = count;
    Save(false);
}

std::string RecoveryReport::SavedAs(const std::string& path) const {
    if (!recoveredFolder_.empty() && path.rfind(recoveredFolder_, 0) == 0) return path.substr(recoveredFolder_.size());
    return path;
}

void RecoveryReport::AddSavedFATFile(const engine::SavedFATFile& file) {
    const std::string path = file.Folder + file.SavedName;
    ++turboSaved_;
    if (!file.Complete) ++incomplete_;
    std::string xml = "  <fileobject>\n";
    xml += "    " + Element("filename", file.CardPath) + "\n";
    xml += "    " + Element("filesize", std::to_string(file.SizeOnCard)) + "\n";
    xml += std::string("    <alloc>") + (file.Deleted ? "0" : "1") + "</alloc>\n";
    // exFAT gives the write time to 10 ms, and both times' offset from UTC.
    const bool fineWriteTime = file.WriteTime10ms != 0 || (file.WriteUtcOffset & 0x80);
    xml += TimeElement("mtime", WithUtcOffset(FatDateTime(file.WriteDate, file.WriteTime, file.WriteTime10ms), file.WriteUtcOffset),
                       fineWriteTime ? 1 : 2);
    xml += TimeElement("atime", FatDateTime(file.AccessDate, 0), 86400);
    xml += TimeElement("crtime",
                       WithUtcOffset(FatDateTime(file.CreateDate, file.CreateTime, file.CreateTimeTenths), file.CreateUtcOffset), 1);
    xml += "    <byte_runs>\n";
    std::int64_t fileOffset = 0;
    for (const auto& run : file.Runs) {
        xml += "      <byte_run file_offset=\"" + std::to_string(fileOffset) + "\" fs_offset=\"" +
               std::to_string(run.Offset) + "\" img_offset=\"" + std::to_string(run.Offset + std::int64_t(volumeOffset_)) +
               "\" len=\"" + std::to_string(run.Length) + "\"/>\n";
        fileOffset += run.Length;
    }
    xml += "    </byte_runs>\n";
    // Hashed as it was written; read back only when that hash is missing.
    if (const std::string hash = file.Sha256.empty() ? engine::Sha256OfFile(path) : file.Sha256; !hash.empty())
        xml += "    <hashdigest type=\"sha256\">" + hash + "</hashdigest>\n";
    const std::string unreadable =
        file.UnreadableBytes > 0 ? "\" unreadable=\"" + std::to_string(file.UnreadableBytes) : std::string();
    xml += "    <tq:saved scan=\"turbo\" size=\"" + std::to_string(file.SizeSaved) + "\" complete=\"" +
           (file.Complete ? "1" : "0") + unreadable + "\" first_cluster=\"" + std::to_string(file.FirstCluster) + "\">" +
           XmlText(SavedAs(path)) + "</tq:saved>\n";
    xml += "  </fileobject>\n";
    savedAt_[path] = objects_.size();
    Append(xml);
}

void RecoveryReport::AddCarvedFile(const CarvedFileReport& file) {
    ++carved_;
    if (!file.Complete) ++incomplete_;
    carvedAt_[file.Path] = {objects_.size(), file};
    Append(CarvedFileXml(file));
}

void RecoveryReport::CarvedFileNamed(const wizard::CarvedFileNamed& named) {
    const auto it = carvedAt_.find(named.oldPath);
    if (it == carvedAt_.end()) return;
    auto [index, file] = it->second;
    carvedAt_.erase(it);
    file.Path = named.newPath;
    file.Bytes = named.bytes;
    file.Sha256 = named.sha256;
    file.Named = true;
    file.Name = named;
    ++named_;
    objects_[index] = CarvedFileXml(file);
    carvedAt_[file.Path] = {index, file};
    Save(false);
}

void RecoveryReport::CarvedFileAlreadySaved(const std::string& carvedPath, const std::string& turboPath) {
    const auto carved = carvedAt_.find(carvedPath);
    const auto saved = savedAt_.find(turboPath);
    if (carved == carvedAt_.end() || saved == savedAt_.end()) return;
    const CarvedFileReport& file = carved->second.second;
    objects_[carved->second.first].clear();
    --carved_;
    ++alsoCarved_;
    // The turbo scan's record says the deep scan found the same bytes.
    std::string& xml = objects_[saved->second];
    const std::string end = "  </fileobject>\n";
    if (xml.size() >= end.size())
        xml.insert(xml.size() - end.size(), "    <tq:also_carved fs_offset=\"" + std::to_string(file.StartOffset) +
                                                "\" type=\"" + XmlText(file.Type) + "\"/>\n");
    carvedAt_.erase(carved);
    Save(false);
}

void RecoveryReport::ReplaceCarvedFile(const std::string& path, const std::vector<engine::VolumeByteRun>& runs,
                                       std::int64_t bytes, const std::string& sha256, bool complete) {
    const auto found = carvedAt_.find(path);
    if (found == carvedAt_.end()) return;
    auto& [index, file] = found->second;
    if (file.Complete && !complete) ++incomplete_;
    if (!file.Complete && complete) --incomplete_;
    file.Bytes = bytes;
    file.Sha256 = sha256;
    file.Complete = complete;
    file.Runs = runs;
    file.EndRule = complete ? "format structure" : "broken off";
    objects_[index] = CarvedFileXml(file);
    Save(false);
}

// A carved file's fileobject: one byte run from its start, or the runs it
// was put back together from.
std::string RecoveryReport::CarvedFileXml(const CarvedFileReport& file) const {
    std::string xml = "  <fileobject>\n";
    if (file.Named) xml += "    " + Element("filename", file.Name.cardPath) + "\n";
    xml += "    " + Element("filesize", std::to_string(file.Bytes)) + "\n";
    if (file.Named) {
        const wizard::CarvedFileNamed& name = file.Name;
        const bool fine = name.writeTime10ms != 0 || (name.writeUtcOffset & 0x80);
        xml += std::string("    <alloc>") + (name.deleted ? "0" : "1") + "</alloc>\n";
        xml += TimeElement("mtime",
                           WithUtcOffset(FatDateTime(name.writeDate, name.writeTime, name.writeTime10ms), name.writeUtcOffset),
                           fine ? 1 : 2);
    }
    const std::vector<engine::VolumeByteRun> runs =
        file.Runs.empty() ? std::vector<engine::VolumeByteRun>{{file.StartOffset, file.Bytes}} : file.Runs;
    xml += "    <byte_runs>\n";
    std::int64_t fileOffset = 0;
    for (const auto& run : runs) {
        xml += "      <byte_run file_offset=\"" + std::to_string(fileOffset) + "\" fs_offset=\"" +
               std::to_string(run.Offset) + "\" img_offset=\"" + std::to_string(run.Offset + std::int64_t(volumeOffset_)) +
               "\" len=\"" + std::to_string(run.Length) + "\"/>\n";
        fileOffset += run.Length;
    }
    xml += "    </byte_runs>\n";
    if (const std::string hash = file.Sha256.empty() ? engine::Sha256OfFile(file.Path) : file.Sha256;
        !hash.empty())
        xml += "    <hashdigest type=\"sha256\">" + hash + "</hashdigest>\n";
    xml += "    <tq:saved scan=\"deep\" type=\"" + XmlText(file.Type) + "\" size=\"" + std::to_string(file.Bytes) +
           "\" complete=\"" + (file.Complete ? "1" : "0") + "\"";
    if (!file.EndRule.empty()) xml += " end=\"" + XmlText(file.EndRule) + "\"";
    // The name came from a folder the deep scan found on the card itself,
    // as after a format, not from the card's file system.
    if (file.Named) xml += std::string(" name_from=\"found folder\"") + (file.Name.folderNameLost ? " folder_name_lost=\"1\"" : "");
    if (runs.size() > 1) xml += " pieces=\"" + std::to_string(runs.size()) + "\"";
    xml += ">" + XmlText(SavedAs(file.Path)) + "</tq:saved>\n";
    xml += "  </fileobject>\n";
    return xml;
}

bool RecoveryReport::Finish(RunState state) {
    state_ = state;
    Save(true);
    return failure_.empty();
}

void RecoveryReport::Append(const std::string& xml) {
    objects_.push_back(xml);
    Save(false);
}

std::string RecoveryReport::Tail() const {
    return std::string("  <tq:run state=\"") + StateText(state_) + "\" end_time=\"" + UtcNow() + "\" files_found=\"" +
           std::to_string(filesFound_) + "\" turbo_saved=\"" + std::to_string(turboSaved_) + "\" deep_carved=\"" +
           std::to_string(carved_) + "\" deep_named=\"" + std::to_string(named_) + "\" deep_also_saved=\"" + std::to_string(alsoCarved_) +
           "\" incomplete=\"" + std::to_string(incomplete_) + "\"/>\n</dfxml>\n";
}

// Writes the whole report beside each copy and renames it over the copy.
// Rewriting costs the report's size, so while files come quickly it is done
// at most twice a second.
void RecoveryReport::Save(bool now) {
    constexpr auto Interval = std::chrono::milliseconds(500);
    const auto time = std::chrono::steady_clock::now();
    if (outputs_.empty() || (!now && time - lastSave_ < Interval)) return;
    lastSave_ = time;
    std::string content = head_;
    for (const std::string& object : objects_) content += object;
    content += Tail();
    failure_.clear();
    for (const std::string& path : outputs_) {
        const std::string temp = WriteBeside(path, content);
        if (!temp.empty() && ::rename(temp.c_str(), path.c_str()) == 0) continue;
        if (failure_.empty()) failure_ = Because("the report " + path + " could not be written whole");
        if (!temp.empty()) ::unlink(temp.c_str());
    }
}

} // namespace wizard
