// Choosing a new destination root in the tools window: the places a folder
// can be chosen from (the home folder, the whole file system and the
// mounted volumes), the folder the chooser starts at, and the value stored
// for the folder chosen.
#pragma once

#include <string>
#include <vector>

namespace shell {

enum class PlaceKind { Home, FileSystem, Volume };

struct FolderPlace {
    std::string path; // absolute, no trailing "/" except for "/"
    PlaceKind kind;
};

// Home first, then "/", then the mount points of block devices, from the
// text of /proc/self/mounts (mount points of other file systems, such as
// /proc or tmpfs, are left out).
std::vector<FolderPlace> FolderPlacesFrom(const std::string& home, const std::string& mountsText);
// The same for this machine.
std::vector<FolderPlace> FolderPlaces();

// The place that holds folder, the one with the longest path; "/" holds
// every absolute path. The index into places, or 0.
std::size_t PlaceOf(const std::string& folder, const std::vector<FolderPlace>& places);

// The folder the chooser starts at: the destination root (or the default
// when there is none), without its trailing "/"; when it does not exist,
// its nearest existing parent folder.
std::string PresetFolder();
// The nearest existing folder at or above path; the home folder when none is.
std::string NearestExistingFolder(const std::string& path);

// The value stored for a chosen folder: the folder with one "/" at its end
// (a place such as "/" keeps its own).
std::string DestinationRootFor(const std::string& folder);

// A folder the user typed for the destination root, as a path: surrounding
// blanks dropped and a leading "~" for the home folder. It is usable when
// it is absolute and names an existing folder (a place in the chooser
// always does): the check a typed root passes before it is stored.
std::string TypedFolder(const std::string& typed);
bool IsUsableDestination(const std::string& folder);

// Stores a chosen folder as the destination root and gives the text of the
// message that confirms it: changedText, a space, the new root. The
// message is the same whether or not the value could be stored.
std::string ChangeDestinationRoot(const std::string& folder, const std::string& changedText);

} // namespace shell
