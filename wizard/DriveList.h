// The recovery wizard's drive list: the removable drives with a card in
// them (or, on request, every removable drive), the chosen drive's type,
// sector size and capacity, and the sectors read at once it proposes. The
// window shows what these return; nothing here touches a control.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/RawDevice.h"
#include "shell/DesktopTexts.h"

namespace wizard {

// Entry n of the [RecoveryWizard] texts.
using WizardTextFn = std::function<std::string(int n)>;

// A size in KB (1024 bytes) as the drive list shows it: below 1024 KB in
// KB with "####.##", below 1,048,576 KB in MB with "####.00", else in GB
// with "####.00"; the decimal separator is the given one. 0 KB is a lone
// separator and " KB".
std::string CapacityText(std::int64_t kilobytes, char decimalSeparator);

// The user's decimal separator (from the locale).
char UserDecimalSeparator();

// What a drive type code (GetDriveTypeA) is called: "Removable", "Fixed",
// "Remote", "CD-ROM", "RAMdisk", else "".
std::string DriveTypeText(unsigned driveType);

// Stands for a drive whose geometry could not be read.
inline constexpr const char* UnreadableCapacity = "0MB";

struct DriveListing {
    std::vector<std::string> items;   // "Drive D: (63.95 MB)" (text 61 for "Drive"), in the order of the system's list
    std::vector<std::string> letters; // "D:", parallel to items
    std::string searchStatus;         // what lblSearchStatus shows
    bool systemListFailed = false;    // the system gave no drive strings at all
};

// Lists the removable drives except A:. Without showAll only those with a
// card whose size and geometry can be read; with showAll every one, an
// empty reader with texts 60 as its capacity and the item led by text 61.
DriveListing ListRemovableDrives(bool showAll, const WizardTextFn& text, char decimalSeparator);

// A picked drive, measured.
struct DriveChoice {
    bool readable = false;               // the geometry was read
    engine::DriveNumber drive = 0;
    engine::DriveGeometry geometry;
    std::string mediaText;               // "Removable", "CD-ROM", ...
    std::string bytesPerSectorText;      // "512"
    std::string capacityText;            // "1.91 GB"
    std::int32_t sectorsAtOnceMaximum = 0; // 0: leave the bound as it is
    std::int32_t sectorsAtOnce = 1;        // proposed
    std::int32_t retryMinimum = 1;
};

// Reads the geometry of the drive with that letter and works out what the
// wizard shows and proposes for it; the drive type named in words' language
// (English without them).
DriveChoice ChooseDrive(char letter, char decimalSeparator, const shell::DesktopTexts& words = {});

// The sectors read at once proposed for a drive: a hundredth of it, at
// least 1 and at most what one read of the deep scan holds.
std::int32_t ProposedSectorsAtOnce(const engine::DriveGeometry& geometry);

} // namespace wizard
