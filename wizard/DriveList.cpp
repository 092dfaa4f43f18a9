#include "wizard/DriveList.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/FileHelpers.h"
#include "platform/fileapi.h"
#include "platform/locale.h"
#include "support/RuntimeError.h"
#include "wizard/DeepScan.h"

namespace wizard {

namespace {

constexpr int TextNoMedia = 60;
constexpr int TextDriveWord = 61;
constexpr int TextNoDriveFound = 62;
constexpr int TextInsertCard = 63;
constexpr int TextFoundBefore = 64;
constexpr int TextFoundAfter = 65;
constexpr int TextChooseDrive = 66;
constexpr int TextThenStart = 67;

constexpr std::int64_t KilobytesPerMegabyte = 1024;
constexpr std::int64_t KilobytesPerGigabyte = 1048576;

// value with two decimals; "#" positions print no leading zero, so a value
// below 1 starts with the separator.
std::string TwoDecimals(double value, char separator, bool keepZeroDecimals) {
    const auto hundredths = static_cast<long long>(std::nearbyint(value * 100.0));
    const long long whole = hundredths / 100;
    const long long fraction = hundredths % 100;
    std::string text = whole == 0 ? std::string() : std::to_string(whole);
    text += separator;
    if (keepZeroDecimals || fraction != 0) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02lld", fraction);
        text += digits;
        // "##": trailing zeros of the decimals are not printed.
        if (!keepZeroDecimals && text.back() == '0') text.pop_back();
    }
    return text;
}

// The size of a drive's volume in KB, as the system reports it; 0 without media.
std::int64_t VolumeKilobytes(const std::string& name) {
    const double bytes = std::strtod(engine::DiskCapacity(name).c_str(), nullptr);
    if (!(bytes > 0)) return 0;
    return static_cast<std::int64_t>(std::nearbyint(bytes / 1024.0));
}

struct Measured {
    std::int64_t kilobytes = 0;
    std::string capacity = UnreadableCapacity;
};

Measured MeasureDrive(const std::string& name, char separator) {
    Measured measured;
    // A reader without a card reports no size: a drive without media, also
    // when its geometry cannot be asked for.
    measured.kilobytes = VolumeKilobytes(name);
    if (measured.kilobytes == 0) {
        measured.capacity = CapacityText(0, separator);
        return measured;
    }
    engine::DriveGeometry geometry;
    bool readable = false;
    try {
        readable = engine::GetDriveGeometry(engine::DriveNumberFromLetter(name[0]), geometry) != support::False;
    } catch (const support::RuntimeError&) {
        readable = false; // a geometry too large to count is no card we can read
    }
    if (readable) measured.capacity = CapacityText(measured.kilobytes, separator);
    return measured;
}

} // namespace

std::string CapacityText(std::int64_t kilobytes, char decimalSeparator) {
    if (kilobytes < KilobytesPerMegabyte)
        return TwoDecimals(static_cast<double>(kilobytes), decimalSeparator, false) + " KB";
    if (kilobytes < KilobytesPerGigabyte)
        return TwoDecimals(static_cast<double>(kilobytes) / KilobytesPerMegabyte, decimalSeparator, true) + " MB";
    return TwoDecimals(static_cast<double>(kilobytes) / KilobytesPerGigabyte, decimalSeparator, true) + " GB";
}

char UserDecimalSeparator() {
    char text[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) < 2) return '.';
    return text[0];
}

std::string DriveTypeText(unsigned driveType) {
    switch (driveType) {
    case DRIVE_REMOVABLE: return "Removable";
    case DRIVE_FIXED: return "Fixed";
    case DRIVE_REMOTE: return "Remote";
    case DRIVE_CDROM: return "CD-ROM";
    case DRIVE_RAMDISK: return "RAMdisk";
    default: return "";
    }
}

DriveListing ListRemovableDrives(bool showAll, const WizardTextFn& text, char decimalSeparator) {
    DriveListing listing;
    const std::string roots = engine::GetLogicalDriveList();
    if (roots.empty()) listing.systemListFailed = true;
    // Entries of four characters: letter, ":", "\", NUL; an entry that
    // begins with NUL ends the list.
    for (std::size_t at = 0; at + 2 <= roots.size() && roots[at] != '\0'; at += 4) {
        std::string name = roots.substr(at, 2);
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name == "A:" || GetDriveTypeA((name + "\\").c_str()) != DRIVE_REMOVABLE) continue;
        Measured measured = MeasureDrive(name, decimalSeparator);
        if (showAll) {
            if (measured.kilobytes == 0) measured.capacity = text(TextNoMedia);
            listing.items.push_back(text(TextDriveWord) + " " + name + " (" + measured.capacity + ")");
        } else {
            if (measured.kilobytes == 0 || measured.capacity == UnreadableCapacity) continue;
            // The letter is taken from the parallel list, so the word may
            // be the user's language's.
            const std::string word = text(TextDriveWord).empty() ? std::string("Drive") : text(TextDriveWord);
            listing.items.push_back(word + " " + name + " (" + measured.capacity + ")");
        }
        listing.letters.push_back(name);
    }
    if (listing.items.empty()) {
        listing.searchStatus = text(TextNoDriveFound) + "\r\n\r\n" + text(TextInsertCard);
    } else {
        listing.searchStatus = text(TextFoundBefore) + " " + std::to_string(listing.items.size()) + " " +
                               text(TextFoundAfter) + "\r\n\r\n" + text(TextChooseDrive) + "\r\n\r\n" +
                               text(TextThenStart);
    }
    return listing;
}

DriveChoice ChooseDrive(char letter, char decimalSeparator, const shell::DesktopTexts& words) {
    DriveChoice choice;
    choice.drive = engine::DriveNumberFromLetter(letter);
    try {
        choice.readable = engine::GetDriveGeometry(choice.drive, choice.geometry) != support::False;
    } catch (const support::RuntimeError&) {
        choice.readable = false;
    }
    if (!choice.readable) return choice;
    const engine::DriveGeometry& g = choice.geometry;
    const unsigned type = GetDriveTypeA((std::string(1, letter) + ":\\").c_str());
    choice.mediaText = words.DriveType(type);
    if (choice.mediaText.empty()) choice.mediaText = DriveTypeText(type);
    choice.bytesPerSectorText = std::to_string(g.BytesPerSector);
    // The sector count is cut to whole multiples of 1024 first.
    const std::int64_t kilobytes = static_cast<std::int64_t>(g.TotalSectors / 1024) * g.BytesPerSector;
    choice.capacityText = CapacityText(kilobytes, decimalSeparator);
    choice.retryMinimum = 1;
    choice.sectorsAtOnceMaximum = MaxSectorsAtOnce(g.BytesPerSector);
    choice.sectorsAtOnce = ProposedSectorsAtOnce(g);
    return choice;
}

std::int32_t ProposedSectorsAtOnce(const engine::DriveGeometry& geometry) {
    const std::int32_t bound = MaxSectorsAtOnce(geometry.BytesPerSector);
    if (bound == 0) return 1;
    return std::clamp(geometry.TotalSectors / 100, 1, bound);
}

} // namespace wizard
