// The destination root: the folder under which recovered files are saved,
// kept as the string value DestDir of the program's key. Paths use "/" and
// the root ends in "/".
//
// The program's key is created at the first start (EnsureProgramKey, which
// ReadDestinationRoot calls), so that DestDir can be stored; the value
// itself is written only into that existing key.
#pragma once

#include <string>

namespace shell {

// Registry paths keep the backslash.
inline constexpr const char* ProgramKeyPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\Calvesse 4.0 - PE";
inline constexpr const char* DestDirValueName = "DestDir";

// The result folders below the root.
inline constexpr const char* RecoveredSubfolder = "My Recovered Mobile Device/";
inline constexpr const char* TurboScanSubfolder = "My Recovered Mobile Device/Turbo Scan/";
inline constexpr const char* DeepScanSubfolder = "My Recovered Mobile Device/Deep Scan/";

// The folder (or file) named by relative under the destination root, such
// as FolderUnderRoot(root, TurboScanSubfolder). A root is stored as the
// user typed or chose it, with or without its "/" at the end: every window
// and both scans join it here, so that they all mean the same folder.
std::string FolderUnderRoot(const std::string& root, const std::string& relative);

// Creates the program's key when it does not exist yet; true when it exists
// afterwards.
bool EnsureProgramKey();

// The user's documents folder with "/" appended unless it ends in one (the
// current folder when the documents folder cannot be found).
std::string DefaultDestination();

// For the scans and the results viewer: DestDir, as stored; without one
// (or with an empty one), DefaultDestination, which is then stored for next
// time (a failure to store is ignored).
std::string ReadDestinationRoot();

// For the tools window's folder chooser: DestDir, or DefaultDestination
// when there is none (not stored).
std::string CurrentDestinationRoot();

// Stores a new root as DestDir; true when stored.
bool StoreDestinationRoot(const std::string& root);

} // namespace shell
