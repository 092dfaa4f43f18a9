#include "tools/AdvToolsChoice.h"

#include <exception>

#include "platform/ui.h"
#include "tools/ToolFrame.h"

namespace tools {

namespace {

std::string Entry(const std::vector<std::string>& section, int number) {
    return number >= 1 && static_cast<std::size_t>(number) <= section.size() ? section[number - 1] : std::string();
}

// The message store's texts for the progress display.
constexpr int kBackingUp = 243, kRestoring = 261, kErasing = 264, kDevice = 268;

} // namespace

bool NeedsDevice(ToolChoice choice) {
    return choice == ToolChoice::Backup || choice == ToolChoice::Restore || choice == ToolChoice::SecureErase;
}

ToolsTexts ToolsTextsFrom(const std::vector<std::string>& section) {
    ToolsTexts texts;
    texts.noDevice = Entry(section, entry::TextB);
    texts.messageTitle = Entry(section, entry::TextC);
    texts.chooseOption = Entry(section, entry::TextD);
    texts.promptFirstHalf = Entry(section, entry::TextE);
    texts.promptBackup = Entry(section, entry::TextF);
    texts.promptRestore = Entry(section, entry::TextG);
    texts.promptErase = Entry(section, entry::TextH);
    texts.folderChanged = Entry(section, entry::TextJ);
    texts.folderChangedTitle = Entry(section, entry::TextK);
    return texts;
}

std::string DevicePrompt(ToolChoice choice, const ToolsTexts& texts) {
    switch (choice) {
    case ToolChoice::Backup: return texts.promptFirstHalf + " " + texts.promptBackup;
    case ToolChoice::Restore: return texts.promptFirstHalf + " " + texts.promptRestore;
    case ToolChoice::SecureErase: return texts.promptFirstHalf + " " + texts.promptErase;
    default: return "";
    }
}

GoAction GoActionFor(ToolChoice choice) {
    if (NeedsDevice(choice)) return GoAction::RunDeviceTool;
    if (choice == ToolChoice::ChangeDir) return GoAction::ChangeDestination;
    if (choice == ToolChoice::CDDVD) return GoAction::CloseForCDDVD;
    return GoAction::AskForChoice;
}

void RunDeviceTool(ToolChoice choice, engine::DriveNumber drive, const ToolInputs& inputs) {
    if (ToolWindow* window = CurrentToolWindow()) window->StopTakingInput();
    // An error the tool itself did not trap must not end the program: it is
    // reported like the tools' own trap, and the window takes input again.
    try {
        switch (choice) {
        case ToolChoice::Backup: BackupDevice(drive, inputs); return;
        case ToolChoice::Restore: RestoreDevice(drive, inputs); return;
        case ToolChoice::SecureErase: SecureEraseDevice(drive, support::False, inputs); return;
        default: break;
        }
    } catch (const std::exception& error) {
        frame::Message(frame::TrapText(error.what()), platform::vbExclamation);
        frame::Finish(ToolOutcome::Failed);
        return;
    }
    // Not a device tool: nothing runs.
    if (ToolWindow* window = CurrentToolWindow()) window->TakeInputAgain();
}

const std::string& ProgressHeading(ToolChoice choice) {
    switch (choice) {
    case ToolChoice::Restore: return frame::Text(kRestoring);
    case ToolChoice::SecureErase: return frame::Text(kErasing);
    default: return frame::Text(kBackingUp);
    }
}

const std::string& DeviceLabel() { return frame::Text(kDevice); }

} // namespace tools
