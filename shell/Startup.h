// The splash window's decisions: its version text and how its outline is
// made see-through.
#pragma once

#include <string>

namespace shell {

// The word (by default "Version"), a space and the program's major, minor
// and revision numbers ("Version 4.0.0").
std::string VersionText(const std::string& word = "Version");

// How long the splash window stays, in milliseconds.
inline constexpr int SplashMilliseconds = 2000;

// The settings of the splash window's translucency, as designed: the colour
// key on, the alpha value off, the transparency text "255".
struct TranslucentSettings {
    bool chkColor = true;
    bool chkAlpha = false;
    std::string txtTransparency = "255";

    // 1 when the colour key is used, plus 2 when the alpha value is.
    int Flags() const;
    // The number in txtTransparency, 0 to 255 (above 255 taken as 255; no
    // number, or a negative one, as 0).
    int Alpha() const;
};

// The colour key: every pure-blue pixel of the splash is see-through.
inline constexpr unsigned char ColorKeyRed = 0, ColorKeyGreen = 0, ColorKeyBlue = 255;

} // namespace shell
