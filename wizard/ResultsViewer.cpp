#include "wizard/ResultsViewer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/DestinationFolder.h"
#include "shell/LanguageFile.h"

namespace wizard {

namespace {

namespace fs = std::filesystem;


struct ExtensionPicture {
    const char* extension;
    Picture picture;
};

constexpr std::array kExtensionPictures{
    ExtensionPicture{"JPG", Picture::FileItself},
    ExtensionPicture{"AVI", Picture::Movie},      ExtensionPicture{"MPG", Picture::Movie},
    ExtensionPicture{"MPEG", Picture::Movie},     ExtensionPicture{"WMV", Picture::Movie},
    ExtensionPicture{"ASX", Picture::Movie},      ExtensionPicture{"MOV", Picture::Movie},
    ExtensionPicture{"MP4", Picture::Movie},      ExtensionPicture{"3GP", Picture::Movie},
    ExtensionPicture{"RM", Picture::Movie},
    ExtensionPicture{"WMA", Picture::Music},      ExtensionPicture{"WAV", Picture::Music},
    ExtensionPicture{"MP3", Picture::Music},      ExtensionPicture{"RA", Picture::Music},
    ExtensionPicture{"AAC", Picture::Music},
    ExtensionPicture{"CRW", Picture::CameraRaw},  ExtensionPicture{"CR2", Picture::CameraRaw},
    ExtensionPicture{"X3F", Picture::CameraRaw},  ExtensionPicture{"RAF", Picture::CameraRaw},
    ExtensionPicture{"NEF", Picture::CameraRaw},  ExtensionPicture{"PEF", Picture::CameraRaw},
    ExtensionPicture{"ORF", Picture::CameraRaw},  ExtensionPicture{"DCR", Picture::CameraRaw},
    ExtensionPicture{"PIX", Picture::CameraRaw},  ExtensionPicture{"RAW", Picture::CameraRaw},
    ExtensionPicture{"TIF", Picture::CameraRaw},  ExtensionPicture{"TIFF", Picture::CameraRaw},
};

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// Case-insensitive (ASCII) order, ties broken by the bytes, so that the
// order is total and the same on every run.
bool NameBefore(const std::string& a, const std::string& b) {
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                   [&](char x, char y) { return lower(x) < lower(y); });
    const bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                      [&](char x, char y) { return lower(x) < lower(y); });
    return less || (!greater && a < b);
}

} // namespace

const std::string& ViewerTexts::operator()(int n) const {
    static const std::string none;
    if (n < 1 || static_cast<std::size_t>(n) > entries_.size()) return none;
    return entries_[static_cast<std::size_t>(n) - 1];
}

ViewerTexts LoadViewerTexts(const std::string& language) {
    return ViewerTexts(shell::LoadSectionWithFallback(language, shell::ImageViewerSection.header,
                                                      shell::ImageViewerSection.count));
}

ResultFolder OtherFolder(ResultFolder folder) {
    return folder == ResultFolder::TurboScan ? ResultFolder::DeepScan : ResultFolder::TurboScan;
}

std::string ResultFolderPath(const std::string& destinationRoot, ResultFolder folder) {
    return shell::FolderUnderRoot(destinationRoot,
                                  folder == ResultFolder::TurboScan ? shell::TurboScanSubfolder : shell::DeepScanSubfolder);
}

const std::string& KindName(const ViewerTexts& texts, ResultFolder folder) {
    return texts(folder == ResultFolder::TurboScan ? 9 : 10);
}

std::string UpperExtension(const std::string& fileName) {
    const std::size_t point = fileName.rfind('.');
    if (point == std::string::npos) return {};
    std::string extension = fileName.substr(point + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), Upper);
    return extension;
}

Picture PictureFor(const std::string& fileName) {
    const std::string extension = UpperExtension(fileName);
    for (const ExtensionPicture& entry : kExtensionPictures)
        if (extension == entry.extension) return entry.picture;
    return Picture::Unknown;
}

std::string StockPicturePath(const std::string& appFolder, Picture picture) {
    switch (picture) {
    case Picture::FileItself: return {};
    case Picture::Movie: return appFolder + "/Images/movie.jpg";
    case Picture::Music: return appFolder + "/Images/music.jpg";
    case Picture::CameraRaw: return appFolder + "/Images/RAW.jpg";
    case Picture::Unknown: break;
    }
    return appFolder + "/Images/unknown.jpg";
}

std::string ThumbnailPicture(const std::string& appFolder, const std::string& folder, const std::string& fileName) {
    const Picture picture = PictureFor(fileName);
    if (picture == Picture::FileItself) return WithoutTrailingSlash(folder) + "/" + fileName;
    return StockPicturePath(appFolder, picture);
}

std::vector<ResultFile> ListResultFiles(const std::string& folder, ResultOrder order) {
    std::vector<ResultFile> files;
    std::error_code ec;
    fs::directory_iterator entries(folder, ec);
    if (ec) return files;
    for (const fs::directory_entry& entry : entries) {
        ResultFile file;
        file.name = entry.path().filename().string();
        std::error_code typeError;
        if (file.name.empty() || !entry.is_regular_file(typeError)) continue;
        std::error_code sizeError, timeError;
        const std::uintmax_t size = entry.file_size(sizeError);
        file.size = sizeError ? 0 : static_cast<std::uint64_t>(size);
        const fs::file_time_type written = entry.last_write_time(timeError);
        if (!timeError) {
            const auto system = std::chrono::file_clock::to_sys(written);
            file.modified = std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
        }
        files.push_back(std::move(file));
    }
    const auto byName = [](const ResultFile& a, const ResultFile& b) { return NameBefore(a.name, b.name); };
    switch (order) {
    case ResultOrder::Name: std::sort(files.begin(), files.end(), byName); break;
    case ResultOrder::Date:
        std::sort(files.begin(), files.end(), [&](const ResultFile& a, const ResultFile& b) {
            return a.modified != b.modified ? a.modified < b.modified : byName(a, b);
        });
        break;
    case ResultOrder::Size:
        std::sort(files.begin(), files.end(), [&](const ResultFile& a, const ResultFile& b) {
            return a.size != b.size ? a.size < b.size : byName(a, b);
        });
        break;
    }
    return files;
}

std::vector<std::string> ListResultFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (ResultFile& file : ListResultFiles(folder, ResultOrder::Name)) names.push_back(std::move(file.name));
    return names;
}

std::string EmptyFolderStatus(const ViewerTexts& texts, ResultFolder shown) {
    return texts(14) + KindName(texts, shown) + texts(15) + KindName(texts, OtherFolder(shown)) + texts(16);
}

ResultFolder InitialFolder(const std::string& destinationRoot) {
    const auto hasFiles = [&](ResultFolder folder) {
        return !ListResultFiles(WithoutTrailingSlash(ResultFolderPath(destinationRoot, folder))).empty();
    };
    if (!hasFiles(ResultFolder::TurboScan) && hasFiles(ResultFolder::DeepScan)) return ResultFolder::DeepScan;
    return ResultFolder::TurboScan;
}

FolderToList PrepareResultFolder(const std::string& destinationRoot, ResultFolder folder, bool& folderUnavailable,
                                 const ViewerTexts& texts) {
    if (folderUnavailable) return {};
    const std::string path = WithoutTrailingSlash(ResultFolderPath(destinationRoot, folder));
    if (IsFolder(path)) return {true, path};
    std::error_code ec;
    fs::create_directory(path, ec);
    if (ec == std::errc::no_such_file_or_directory) {
        platform::MsgBox(texts(11) + "\r\n\r\n" + texts(12), platform::vbInformation, texts(13));
        folderUnavailable = true;
        std::error_code ignored; // a root that is gone cannot take it either
        fs::create_directory(WithoutTrailingSlash(shell::FolderUnderRoot(destinationRoot, shell::RecoveredSubfolder)),
                             ignored);
        return {};
    }
    // Created, or not creatable for another reason (a file in its place, no
    // rights): listed, which shows it as empty.
    return {true, path};
}

bool ShellExecuteFailed(HINSTANCE result) { return reinterpret_cast<std::intptr_t>(result) <= 32; }

bool OpenRecoveredFile(const std::string& folder, const std::string& fileName, const ViewerTexts& texts) {
    const std::string path = WithoutTrailingSlash(folder) + "/" + fileName;
    const HINSTANCE result = ShellExecuteA(nullptr, "Open", path.c_str(), nullptr, nullptr, SW_RESTORE);
    platform::DoEvents();
    if (!ShellExecuteFailed(result)) return true;
    platform::MsgBox(texts(18), platform::vbCritical, texts(19));
    return false;
}

} // namespace wizard
