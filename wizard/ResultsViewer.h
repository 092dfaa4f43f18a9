// The results viewer's decisions, below its window: which result folder it
// shows and which files it lists there, which picture stands for a file,
// the status and message texts, and opening a file with the program the
// desktop associates with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace wizard {

// The viewer's texts: the [ImageViewer] section of the language file,
// text n at index n - 1 (1 the window caption, 2 lblInfo, 3 Label2, 4 the
// frame, 5 xpTurbo, 6 xpDeep, 7 butClose, 8 to 19 status and messages,
// 20 the sort list's caption, 21 to 23 its orders: name, date, size).
inline constexpr int ViewerTextCount = 23;

class ViewerTexts {
public:
    ViewerTexts() = default;
    explicit ViewerTexts(std::vector<std::string> entries) : entries_(std::move(entries)) {}
    // Text n (1-based); empty when the section could not be read.
    const std::string& operator()(int n) const;
    // The entries as read (empty when no language file could be read).
    const std::vector<std::string>& Entries() const { return entries_; }

private:
    std::vector<std::string> entries_;
};

// The section for the language, with English standing in for a missing
// file or section; no texts when neither can be read.
ViewerTexts LoadViewerTexts(const std::string& language);

// The two result folders under the destination root.
enum class ResultFolder { TurboScan, DeepScan };

ResultFolder OtherFolder(ResultFolder folder);

// The root (ending in "/") followed by the folder's subfolder; ends in "/".
std::string ResultFolderPath(const std::string& destinationRoot, ResultFolder folder);

// The name of a result folder in the status texts: text 9 for the turbo
// scan, text 10 for the deep scan.
const std::string& KindName(const ViewerTexts& texts, ResultFolder folder);

// What stands for a file in the panel.
enum class Picture { FileItself, Movie, Music, CameraRaw, Unknown };

// The text after the last point of the name, in upper case ("" without a
// point).
std::string UpperExtension(const std::string& fileName);

// By extension, without regard to case: only "JPG" shows the file itself
// ("photo.jpeg" shows the unknown picture).
Picture PictureFor(const std::string& fileName);

// The stock picture's file under the program folder: Images/movie.jpg,
// music.jpg, RAW.jpg or unknown.jpg; "" for Picture::FileItself.
std::string StockPicturePath(const std::string& appFolder, Picture picture);

// The picture file of the thumbnail of folder/fileName.
std::string ThumbnailPicture(const std::string& appFolder, const std::string& folder, const std::string& fileName);

// A recovered file as the viewer lists it.
struct ResultFile {
    std::string name;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // seconds since 1970 (UTC)
};

// The orders the viewer offers; ties go by name.
enum class ResultOrder { Name, Date, Size };

// The files of a folder, as the viewer lists them: every regular file,
// hidden ones (a leading point: a phone's recycle bin, a Mac's "._" files)
// included, in the order asked for; names without regard to case, dates
// and sizes from the oldest and the smallest. Empty when the folder cannot
// be read.
std::vector<ResultFile> ListResultFiles(const std::string& folder, ResultOrder order);
// Their names, by name.
std::vector<std::string> ListResultFiles(const std::string& folder);

// The status for an empty folder: text 14, the shown folder's name, text
// 15, the other folder's name and text 16, joined as they are.
std::string EmptyFolderStatus(const ViewerTexts& texts, ResultFolder shown);

// The folder the viewer shows first: the turbo scan's, unless it has no
// files and the deep scan's has some.
ResultFolder InitialFolder(const std::string& destinationRoot);

// The folder to list for a result folder, after making sure it exists.
struct FolderToList {
    bool available = false; // false: nothing may be listed in this window any more
    std::string folder;     // without a trailing "/"
};

// Before listing: a missing result folder is created (one level). When
// its parent "My Recovered Mobile Device" is missing too, the viewer says
// so (texts 11 and 12 under 13, information icon), marks itself
// folderUnavailable for the rest of its life and creates that parent, so
// that the next recovery has it. Once folderUnavailable is set, nothing is
// checked or created and nothing is listed.
FolderToList PrepareResultFolder(const std::string& destinationRoot, ResultFolder folder, bool& folderUnavailable,
                                 const ViewerTexts& texts);

// True when ShellExecuteA's result means that nothing was opened (32 or
// less).
bool ShellExecuteFailed(HINSTANCE result);

// Opens folder/fileName with the desktop's program for it ("Open", shown
// restored), lets pending events run, and when nothing could be opened
// shows text 18 under text 19 with the critical icon. True when opened.
bool OpenRecoveredFile(const std::string& folder, const std::string& fileName, const ViewerTexts& texts);

} // namespace wizard
