// The tools window's list of cards: every removable drive with media except
// the floppy A:, each shown as its root and size, "D: (64.00 MB)".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/RawDevice.h"

namespace tools {

struct DriveBoxItem {
    std::string text;           // "D: (64.00 MB)"
    engine::DriveNumber drive;  // 4 for D:
};

struct DriveListing {
    bool noDrivesAtAll = false; // the system reported no drive roots
    std::vector<DriveBoxItem> items;
};

// What the listing asks the system; tests give their own answers.
struct DriveQueries {
    std::function<std::string()> driveList;                     // "C:\" NUL "D:\" NUL ... NUL
    std::function<unsigned(const std::string& root)> driveType; // DRIVE_REMOVABLE, ...
    std::function<std::string(const std::string& root)> capacity; // bytes as decimal text, "0" without media
    char decimalSeparator = '.';                                  // of the sizes shown
};
// The system's drives, the sizes with the user's decimal separator (as the
// recovery wizard shows them).
DriveQueries SystemDriveQueries();

// The drives in the list's order, from roots four characters apart: kept
// when removable, not "A:", and with a capacity above 0.
DriveListing ListRemovableDrives(const DriveQueries& queries = SystemDriveQueries());

// A capacity in bytes as the list shows it: KiB / 1024 in "MB" below
// 1,048,576 KiB, else KiB / 1,048,576 in "GB", two decimals, no leading
// zero ("512.00 MB", "1.00 GB", ".50 MB"; "512,00 MB" with a comma).
std::string DriveSizeText(double capacity, char decimalSeparator = '.');
// root ("D:") " (" size ")".
std::string DriveBoxItemText(const std::string& root, double capacity, char decimalSeparator = '.');
// The drive an item names by its first character; 0 when it names none.
engine::DriveNumber DriveFromItem(const std::string& itemText);

} // namespace tools
