// `drives`: the drive list with letter, type, capacity and source.
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "platform/drives.h"

namespace {

const char* KindText(platform::DriveKind kind) {
    switch (kind) {
    case platform::DriveKind::Fixed: return "Fixed";
    case platform::DriveKind::Removable: return "Removable";
    case platform::DriveKind::CdRom: return "CD-ROM";
    }
    return "";
}

std::string CapacityText(const platform::DriveInfo& drive) {
    if (!drive.hasMedia || drive.length == 0) return "no media";
    return cli::HumanSize(drive.length) + " (" + std::to_string(drive.length) + " bytes)";
}

std::string SourceText(const platform::DriveInfo& drive) {
    std::string text = drive.source;
    if (drive.attachedImage && drive.partition > 0)
        text += ", partition " + std::to_string(drive.partition) + " at byte " + std::to_string(drive.offset);
    return text;
}

int RunDrives(bool removableOnly, cli::Context& context) {
    std::vector<platform::DriveInfo> drives = platform::ListDrives();
    std::size_t capacityWidth = 8;
    for (const auto& drive : drives) capacityWidth = std::max(capacityWidth, CapacityText(drive).size());

    std::ostream& out = context.out;
    out << std::left << std::setw(7) << "Drive" << std::setw(11) << "Type" << std::setw(static_cast<int>(capacityWidth) + 2)
        << "Capacity" << "Source\n";
    int listed = 0;
    for (const auto& drive : drives) {
        if (removableOnly && drive.kind != platform::DriveKind::Removable) continue;
        out << std::left << std::setw(7) << (std::string(1, drive.letter) + ":") << std::setw(11)
            << KindText(drive.kind) << std::setw(static_cast<int>(capacityWidth) + 2) << CapacityText(drive)
            << SourceText(drive) << "\n";
        ++listed;
    }
    if (listed == 0 && removableOnly) context.err << "No removable drive found.\n";
    return cli::ExitSuccess;
}

cli::CommandRun DefineDrives(CLI::App& command) {
    auto removableOnly = std::make_shared<bool>(false);
    command.add_flag("-r,--removable", *removableOnly, "only the removable drives (card readers, cameras, phones, images)");
    return [removableOnly](cli::Context& context) { return RunDrives(*removableOnly, context); };
}

cli::CommandRegistration drives({"drives", "list the drives: letter, type, capacity and where the bytes come from",
                                 DefineDrives});

} // namespace
