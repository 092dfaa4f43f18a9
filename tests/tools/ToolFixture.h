// The set-up the device-tool tests share: scripted answers, a window that
// counts hand-backs, numbered texts, cards in memory or in image files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "BootSectorImage.h"
#include "MemoryVolume.h"
#include "RequireExtraLong.h"
#include "engine/RawDevice.h"
#include "platform/drives.h"
#include "platform/ui.h"
#include "shell/frmPasser.h"
#include "support/RuntimeError.h"
#include "tools/AdvTools.h"

namespace testing_tools {

class RecordingWindow : public tools::ToolWindow {
public:
    void StopTakingInput() override { ++stopped; }
    void TakeInputAgain() override { ++handedBack; }
    int stopped = 0;
    int handedBack = 0;
};

// "T231" .. "T269" stand for the tools' texts, so that tests can tell which
// message was shown.
inline std::string T(int number) { return "T" + std::to_string(number); }

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetDrives();
        engine::ResetDriveTable();
        auto& lang = shell::frmPasser().LANG;
        for (int n = 231; n <= 269; ++n) lang[n] = T(n);
        lang[379] = "Device error";
        lang[383] = "Cannot open the drive for writing. Error code";
        lang[384] = "Cannot open the drive. Error code";
        platform::SetUi(&ui);
        tools::SetToolWindow(&window);
        std::string pattern = (std::filesystem::temp_directory_path() / "tranquo-tooltest-XXXXXX").string();
        folder = mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
    }
    void TearDown() override {
        engine::ResetDriveTable();
        tools::SetToolWindow(nullptr);
        platform::SetUi(nullptr);
        platform::ResetDrives();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // A card of sectors x 512 bytes: a boot sector, then bytes that differ
    // from sector to sector.
    static std::vector<std::uint8_t> CardBytes(std::uint64_t sectors, std::uint16_t reserved = 1,
                                               std::uint16_t fatSectors = 8) {
        std::vector<std::uint8_t> bytes(sectors * 512);
        for (std::size_t i = 512; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>((i / 512) * 13 + i % 241 + 1);
        auto boot = BootSector(static_cast<std::uint32_t>(sectors), reserved, fatSectors);
        std::copy(boot.begin(), boot.end(), bytes.begin());
        return bytes;
    }

    std::shared_ptr<MemoryVolume> MemoryCard(std::uint64_t sectors, std::uint16_t reserved = 1,
                                             std::uint16_t fatSectors = 8) {
        auto volume = std::make_shared<MemoryVolume>(sectors * 512);
        volume->Bytes() = CardBytes(sectors, reserved, fatSectors);
        return volume;
    }

    engine::DriveNumber Attach(std::shared_ptr<platform::VolumeBackend> volume) {
        return engine::DriveNumberFromLetter(platform::AttachVolume(volume, "test card"));
    }

    std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }

    engine::DriveNumber AttachFile(const std::string& path) {
        std::string error;
        auto letters = platform::AttachImage(path, &error);
        EXPECT_EQ(letters.size(), 1u) << error;
        return letters.empty() ? 0 : engine::DriveNumberFromLetter(letters[0]);
    }

    static std::vector<std::uint8_t> ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : ui.boxes) texts.push_back(box.text);
        return texts;
    }
    const platform::ScriptedUi::Box& LastBox() const { return ui.boxes.back(); }

    platform::ScriptedUi ui;
    RecordingWindow window;
    std::string folder;
};

} // namespace testing_tools
