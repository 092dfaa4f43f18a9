// Shared set-up of the engine tests: a private registry with the library
// registered, the scripted user interface, cards from the image builder
// attached as removable drives, and a turbo scan run into a scratch folder
// with every event recorded.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/FATEngine.h"
#include "engine/FileTypeTable.h"
#include "engine/RawDevice.h"
#include "platform/com.h"
#include "platform/drives.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "support/ProgramFolder.h"
#include "support/RuntimeError.h"
#include "tests/common/FatImageBuilder.h"

namespace enginetest {

namespace fs = std::filesystem;
using testcommon::DirHandle;
using testcommon::EntryRef;
using testcommon::FatImageBuilder;
using testcommon::FatImageOptions;
using testcommon::FatKind;
using testcommon::FileOptions;
using testcommon::PatternBytes;

inline std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The extensions the tests treat as photo and video types.
inline void UseCameraTypes() {
    engine::UseFileTypeTableForTests(
        {{"JPG", true}, {"MOV", true}, {"AVI", true}, {"CR2", true}, {"THM", false}, {"TXT", false}});
}

struct ScanResult {
    std::vector<std::string> events;  // "info: ...", "error: ...", "found: N", "saved: NAME", "progress: N"
    std::map<std::string, std::vector<std::uint8_t>> files;  // relative path in the output folder
    bool raised = false;
    long errorNumber = 0;
    std::string errorSource;
    std::string errorText;
    std::int32_t filesFound = -1;
    std::int32_t lastProgress = 0;
    std::vector<std::string> infos;
    std::vector<std::string> errors;
};

class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = fs::temp_directory_path() / ("tranquo-engine-" + std::to_string(::getpid()));
        fs::create_directories(scratch_);
        setenv("TRANQUO_REGISTRY", (scratch_ / "registry").c_str(), 1);
        platform::ReloadRegistry();
        CoInitialize(nullptr);  // the engine registers the library beside the program on first use
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }
    void SetUp() override {
        platform::ResetDrives();
        engine::ResetDriveTable();
        UseCameraTypes();
        root_ = scratch_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root_);
        fs::create_directories(root_);
        platform::SetUi(&ui);
    }
    void TearDown() override {
        platform::SetUi(nullptr);
        engine::ResetDriveTable();
        platform::ResetDrives();
    }

    // Attaches the card; returns its letter.
    char Attach(FatImageBuilder& card) {
        volume = card.Volume();
        return platform::AttachVolume(volume, "engine test card");
    }
    char Attach(std::shared_ptr<testcommon::SparseVolume> v) {
        volume = std::move(v);
        return platform::AttachVolume(volume, "engine test card");
    }

    fs::path Dest() const { return root_ / "Turbo Scan"; }

    void Record(engine::FATEngine& engine, ScanResult& result) {
        engine.Events.LogInfoMessage = [&result](const std::string& m) {
            result.events.push_back("info: " + m);
            result.infos.push_back(m);
        };
        engine.Events.LogErrorMessage = [&result](const std::string& m) {
            result.events.push_back("error: " + m);
            result.errors.push_back(m);
        };
        engine.Events.OnFATFilesFound = [&result](std::int32_t n) {
            result.events.push_back("found: " + std::to_string(n));
            result.filesFound = n;
        };
        engine.Events.OnFoundFATFile = [&result](const std::string&, const std::string& name) {
            result.events.push_back("saved: " + name);
        };
        engine.Events.OnProgress = [&result](std::int32_t n) { result.lastProgress = n; };
    }

    // A whole turbo scan of the card, as the wizard runs it.
    ScanResult Scan(char letter, std::int16_t sectorsAtOnce = 64, bool keepFolders = false,
                    const std::function<void(engine::FATEngine&)>& before = {}) {
        ScanResult result;
        engine::FATEngine engine;
        Record(engine, result);
        engine.SetDestFolder(Dest().string() + "/");
        engine.SetSectorsAtOnce(sectorsAtOnce);
        if (before) before(engine);
        try {
            engine.PreScan(std::string(1, letter), support::ToTruth(keepFolders));
        } catch (const support::RuntimeError& e) {
            result.raised = true;
            result.errorNumber = e.Number();
            result.errorSource = e.Source();
            result.errorText = e.Description();
        }
        if (fs::exists(Dest())) {
            for (const auto& e : fs::recursive_directory_iterator(Dest()))
                if (e.is_regular_file()) result.files[fs::relative(e.path(), Dest()).string()] = ReadAll(e.path());
        }
        return result;
    }
    ScanResult Scan(FatImageBuilder& card, std::int16_t sectorsAtOnce = 64, bool keepFolders = false) {
        return Scan(Attach(card), sectorsAtOnce, keepFolders);
    }

    static inline fs::path scratch_;
    fs::path root_;
    platform::ScriptedUi ui;
    std::shared_ptr<testcommon::SparseVolume> volume;
};

} // namespace enginetest
