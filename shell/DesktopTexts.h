// Words and messages that more than one window shows: the names of drive
// types, the CD/DVD refusal, the destination folder's Browse button and
// checks, and the splash window's lines. The [DesktopTexts] section of the
// user's language file, English standing in for what it lacks.
#pragma once

#include <string>
#include <vector>

namespace shell {

namespace desktop_text {
inline constexpr int Removable = 1; // 1 to 5: the drive types, in the order of DRIVE_REMOVABLE to DRIVE_RAMDISK
inline constexpr int CdRomRefused = 6;
inline constexpr int CdRomRefusedTitle = 7;
inline constexpr int Browse = 8;
inline constexpr int ChooseDestination = 9;
inline constexpr int DestinationNotAFolder = 10;
inline constexpr int DestinationTitle = 11;
inline constexpr int SplashLine1 = 12;
inline constexpr int SplashLine2 = 13;
inline constexpr int Version = 14;
} // namespace desktop_text

class DesktopTexts {
public:
    DesktopTexts() = default;
    explicit DesktopTexts(std::vector<std::string> entries) : entries_(std::move(entries)) {}
    // Entry n (1-based); "" when there is none.
    std::string operator()(int n) const;
    // The name of a drive type code (GetDriveTypeA); "" for other codes.
    std::string DriveType(unsigned driveType) const;

private:
    std::vector<std::string> entries_;
};

// The section for the user's language (LanguageName).
DesktopTexts LoadDesktopTexts();

} // namespace shell
