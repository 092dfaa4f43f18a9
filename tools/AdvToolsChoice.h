// What the tools window decides: its texts from the language file, the
// device prompt of each tool, what Go does for the chosen option, and the
// run of a device tool with the window's stop flag and progress.
#pragma once

#include <string>
#include <vector>

#include "engine/RawDevice.h"
#include "tools/AdvTools.h"

namespace tools {

enum class ToolChoice { None, Backup, Restore, SecureErase, ChangeDir, CDDVD };

// Backup, restore and erase work on a drive from the list.
bool NeedsDevice(ToolChoice choice);

// Entry numbers of the window's section: captions, and the texts A to K.
namespace entry {
constexpr int Caption = 1, Label1 = 2, Label14 = 3, XPFrame201 = 4, optBackup = 5, optRestore = 6,
              optSecureErase = 7, cmdGo = 8, cmdCancel = 9, optChangeDir = 14, optCDDVD = 15, Label6 = 16,
              Label3 = 22, butDestOK = 23, butDestCancel = 24;
constexpr int TextA = 10, TextB = 11, TextC = 12, TextD = 13, TextE = 17, TextF = 18, TextG = 19, TextH = 20,
              TextI = 21, TextJ = 25, TextK = 26;
} // namespace entry

// The texts the window speaks with besides its captions.
struct ToolsTexts {
    std::string noDevice;        // B: no removable drive (also the message when the system lists no drive)
    std::string messageTitle;    // C
    std::string chooseOption;    // D: Go without a choice
    std::string promptFirstHalf; // E
    std::string promptBackup, promptRestore, promptErase; // F, G, H
    std::string folderChanged;   // J: put before the new folder
    std::string folderChangedTitle; // K
};
// From the loaded section (index 0 = entry 1); missing entries stay empty.
ToolsTexts ToolsTextsFrom(const std::vector<std::string>& section);

// E, a space, and F, G or H for the device tool; "" for the other choices.
std::string DevicePrompt(ToolChoice choice, const ToolsTexts& texts);

enum class GoAction {
    RunDeviceTool,     // backup, restore or erase on the selected drive
    ChangeDestination, // the folder chooser
    CloseForCDDVD,     // close the window, keep the main menu hidden
    AskForChoice,      // nothing chosen: the critical message D
};
GoAction GoActionFor(ToolChoice choice);

// Runs the chosen device tool on the drive; the tool hands input back to
// the window when it ends. Erase is always asked first.
void RunDeviceTool(ToolChoice choice, engine::DriveNumber drive, const ToolInputs& inputs);

// The line above the progress bar while a tool runs ("Backing up the
// device, please wait..."), and the label of the drive line ("Device:").
const std::string& ProgressHeading(ToolChoice choice);
const std::string& DeviceLabel();

} // namespace tools
