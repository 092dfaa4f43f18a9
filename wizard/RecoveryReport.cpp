#include "wizard/RecoveryReport.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/oleauto.h"
#include "wizard/Sha256.h"

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
    static constexpr int DaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = 1980 + (date >> 9), month = (date >> 5) & 15, day = date & 31;
    const int hour = time >> 11, minute = (time >> 5) & 63;
    int second = (time & 31) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth[month - 1] || hour > 23 || minute > 59 || second > 59)
        return {};
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

RecoveryReport::~RecoveryReport() {
    for (auto& output : outputs_)
        if (output.file) std::fclose(output.file);
}

bool RecoveryReport::Open(const std::string& recoveredFolder, const std::string& extraPath, const ReportSource& source,
                          const std::string& commandLine, std::string* error) {
    recoveredFolder_ = recoveredFolder;
    if (!recoveredFolder_.empty() && recoveredFolder_.back() != '/') recoveredFolder_.push_back('/');
    volumeOffset_ = source.VolumeOffset;
    std::error_code ec;
    fs::create_directories(recoveredFolder_, ec);
    // An earlier run's report is never replaced: "wx" creates only a new file.
    std::FILE* file = nullptr;
    for (int n = 1; !file && n < 100000; ++n) {
        path_ = recoveredFolder_ + (n == 1 ? std::string("report.xml") : "report (" + std::to_string(n) + ").xml");
        file = std::fopen(path_.c_str(), "wx");
        if (!file && errno != EEXIST) break;
    }
    if (!file) {
        if (error) *error = "cannot create a report in " + recoveredFolder_ + ": " + std::strerror(errno);
        path_.clear();
        return false;
    }
    outputs_.push_back({file, 0, {}});
    // The same file named twice would be written over itself.
    if (!extraPath.empty() && !fs::equivalent(extraPath, path_, ec)) {
        std::FILE* extra = std::fopen(extraPath.c_str(), "w");
        if (!extra) {
            if (error) *error = "cannot create the report " + extraPath + ": " + std::strerror(errno);
            return false;
        }
        outputs_.push_back({extra, 0, {}});
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
    if (layout.Usable) {
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
    for (auto& output : outputs_) std::fputs(xml.c_str(), output.file);
    for (auto& output : outputs_) output.tail = std::ftell(output.file);
    WriteTail();
    return true;
}

void RecoveryReport::SetFilesFound(std::int64_t count) {
    filesFound_ = count;
    WriteTail();
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
    xml += TimeElement("mtime", FatDateTime(file.WriteDate, file.WriteTime), 2);
    xml += TimeElement("atime", FatDateTime(file.AccessDate, 0), 86400);
    xml += TimeElement("crtime", FatDateTime(file.CreateDate, file.CreateTime, file.CreateTimeTenths), 1);
    xml += "    <byte_runs>\n";
    std::int64_t fileOffset = 0;
    for (const auto& run : file.Runs) {
        xml += "      <byte_run file_offset=\"" + std::to_string(fileOffset) + "\" fs_offset=\"" +
               std::to_string(run.Offset) + "\" img_offset=\"" + std::to_string(run.Offset + std::int64_t(volumeOffset_)) +
               "\" len=\"" + std::to_string(run.Length) + "\"/>\n";
        fileOffset += run.Length;
    }
    xml += "    </byte_runs>\n";
    if (const std::string hash = Sha256OfFile(path); !hash.empty())
        xml += "    <hashdigest type=\"sha256\">" + hash + "</hashdigest>\n";
    xml += "    <tq:saved scan=\"turbo\" size=\"" + std::to_string(file.SizeSaved) + "\" complete=\"" +
           (file.Complete ? "1" : "0") + "\" first_cluster=\"" + std::to_string(file.FirstCluster) + "\">" +
           XmlText(SavedAs(path)) + "</tq:saved>\n";
    xml += "  </fileobject>\n";
    Append(xml);
}

void RecoveryReport::AddCarvedFile(const CarvedFileReport& file) {
    ++carved_;
    if (!file.Complete) ++incomplete_;
    std::string xml = "  <fileobject>\n";
    xml += "    " + Element("filesize", std::to_string(file.Bytes)) + "\n";
    xml += "    <byte_runs>\n      <byte_run file_offset=\"0\" fs_offset=\"" + std::to_string(file.StartOffset) +
           "\" img_offset=\"" + std::to_string(file.StartOffset + std::int64_t(volumeOffset_)) + "\" len=\"" +
           std::to_string(file.Bytes) + "\"/>\n    </byte_runs>\n";
    if (const std::string hash = Sha256OfFile(file.Path); !hash.empty())
        xml += "    <hashdigest type=\"sha256\">" + hash + "</hashdigest>\n";
    xml += "    <tq:saved scan=\"deep\" type=\"" + XmlText(file.Type) + "\" size=\"" + std::to_string(file.Bytes) +
           "\" complete=\"" + (file.Complete ? "1" : "0") + "\">" + XmlText(SavedAs(file.Path)) + "</tq:saved>\n";
    xml += "  </fileobject>\n";
    Append(xml);
}

void RecoveryReport::Finish(RunState state) {
    state_ = state;
    WriteTail();
}

void RecoveryReport::Append(const std::string& xml) {
    for (auto& output : outputs_) output.pending = xml;
    WriteTail();
}

// Writes what is pending and the closing part (the run's state, end and
// counts, and the document's end) in one piece over the old closing part,
// so that the file is a whole document after every file.
void RecoveryReport::WriteTail() {
    const std::string tail = std::string("  <tq:run state=\"") + StateText(state_) + "\" end_time=\"" + UtcNow() +
                             "\" files_found=\"" + std::to_string(filesFound_) + "\" turbo_saved=\"" +
                             std::to_string(turboSaved_) + "\" deep_carved=\"" + std::to_string(carved_) +
                             "\" incomplete=\"" + std::to_string(incomplete_) + "\"/>\n</dfxml>\n";
    for (auto& output : outputs_) {
        std::fseek(output.file, output.tail, SEEK_SET);
        const std::string piece = output.pending + tail;
        std::fwrite(piece.data(), 1, piece.size(), output.file);
        std::fflush(output.file);
        output.tail += static_cast<long>(output.pending.size());
        output.pending.clear();
        // The closing part may be shorter than the one it replaces.
        if (::ftruncate(::fileno(output.file), output.tail + static_cast<long>(tail.size())) != 0) continue;
    }
}

} // namespace wizard
