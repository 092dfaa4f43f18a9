#include "tools/RemovableDriveList.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "engine/FileHelpers.h"
#include "platform/fileapi.h"
#include "platform/locale.h"

namespace tools {

namespace {

constexpr std::size_t kRootStride = 4; // "D:\" and its NUL
constexpr double kKiBPerGiB = 1048576.0;

// Like Val: the leading number, 0 when there is none.
double LeadingNumber(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? 0.0 : value;
}

// The format "####.00": two decimals, no digit before the point below 1.
std::string TwoDecimals(double value, char decimalSeparator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string shown = text;
    if (shown.rfind("0.", 0) == 0) shown.erase(0, 1);
    if (const std::size_t point = shown.find('.'); point != std::string::npos) shown[point] = decimalSeparator;
    return shown;
}

char UserDecimalSeparator() {
    char text[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) < 2) return '.';
    return text[0];
}

} // namespace

DriveQueries SystemDriveQueries() {
    return DriveQueries{
        [] { return engine::GetLogicalDriveList(); },
        [](const std::string& root) { return static_cast<unsigned>(GetDriveTypeA(root.c_str())); },
        [](const std::string& root) { return engine::DiskCapacity(root); },
        UserDecimalSeparator(),
    };
}

DriveListing ListRemovableDrives(const DriveQueries& queries) {
    DriveListing listing;
    const std::string list = queries.driveList();
    if (list.empty() || list[0] == '\0') {
        listing.noDrivesAtAll = true;
        return listing;
    }
    for (std::size_t at = 0; at + 2 < list.size() && list[at] != '\0'; at += kRootStride) {
        const std::string root = list.substr(at, 3);        // "D:\"
        const std::string letterAndColon = root.substr(0, 2); // "D:"
        if (queries.driveType(root) != DRIVE_REMOVABLE) continue;
        if (std::toupper(static_cast<unsigned char>(letterAndColon[0])) == 'A') continue; // the floppy
        const double capacity = LeadingNumber(queries.capacity(letterAndColon));
        if (!(capacity > 0)) continue; // a reader without a card
        const engine::DriveNumber drive = DriveFromItem(letterAndColon);
        if (drive == 0) continue;
        listing.items.push_back(DriveBoxItem{DriveBoxItemText(letterAndColon, capacity, queries.decimalSeparator), drive});
    }
    return listing;
}

std::string DriveSizeText(double capacity, char decimalSeparator) {
    const double kib = capacity / 1024.0;
    if (kib < kKiBPerGiB) return TwoDecimals(kib / 1024.0, decimalSeparator) + " MB";
    return TwoDecimals(kib / kKiBPerGiB, decimalSeparator) + " GB";
}

std::string DriveBoxItemText(const std::string& root, double capacity, char decimalSeparator) {
    return root + " (" + DriveSizeText(capacity, decimalSeparator) + ")";
}

engine::DriveNumber DriveFromItem(const std::string& itemText) {
    if (itemText.empty()) return 0;
    const int letter = std::toupper(static_cast<unsigned char>(itemText[0]));
    if (letter < 'A' || letter > 'Z') return 0;
    return static_cast<engine::DriveNumber>(letter - 'A' + 1);
}

} // namespace tools
