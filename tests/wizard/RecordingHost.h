// A deep-scan host for tests: inputs set by the test, every output recorded.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "wizard/DeepScanHost.h"

namespace wizardtest {

class RecordingHost : public wizard::DeepScanHost {
public:
    engine::DriveNumber drive = 0;
    engine::DriveGeometry geometry;
    std::int32_t firstDataSector = 0;
    std::int32_t sectorsAtOnce = 4000;
    std::int32_t retryLimit = 1;
    std::string prefix;
    std::string root;
    std::int32_t barMaximum = 100;
    std::int64_t filesFoundShown = 0;
    bool stop = false;
    int retryLimitReads = 0;

    std::vector<std::string> statuses;
    std::vector<std::string> currentFiles;
    std::vector<std::int32_t> progress;
    std::int64_t filesFound = -1;
    std::int64_t imagesFound = -1;
    std::int64_t readErrors = -1;
    bool scanningLook = false;
    bool backEnabled = false;
    std::vector<std::pair<std::string, std::int64_t>> carved;
    std::vector<wizard::CarvedFileEnd> ends;

    engine::DriveNumber Drive() override { return drive; }
    engine::DriveGeometry Geometry() override { return geometry; }
    std::int32_t FirstDataSector() override { return firstDataSector; }
    std::int32_t SectorsAtOnce() override { return sectorsAtOnce; }
    std::int32_t RetryLimit() override {
        ++retryLimitReads;
        return retryLimit;
    }
    std::string FilenamePrefix() override { return prefix; }
    std::string DestinationRoot() override { return root; }
    std::int32_t BarMaximum() override { return barMaximum; }
    std::string WizardText(int n) override { return "T" + std::to_string(n); }
    std::int64_t FilesFoundShown() override { return filesFoundShown; }
    void EnterScanningLook() override { scanningLook = true; }
    void EnableBack() override { backEnabled = true; }
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    void ShowFilesFound(std::int64_t total) override { filesFound = total; }
    void ShowImagesFound(std::int64_t n) override { imagesFound = n; }
    void ShowReadErrors(std::int64_t n) override { readErrors = n; }
    void ShowCurrentFile(const std::string& name) override { currentFiles.push_back(name); }
    void ShowProgress(std::int32_t value) override { progress.push_back(value); }
    void FileCarved(const std::string& path, std::int64_t bytes, wizard::CarvedFileEnd how) override {
        carved.emplace_back(path, bytes);
        ends.push_back(how);
    }
    bool StopRequested() override { return stop; }
    void SetStopRequested(bool value) override { stop = value; }
};

} // namespace wizardtest
