// Every test of this folder runs with a private registry store (the library
// registers itself there on first activation) and with the program folder
// pointing at the built binaries, also when the test program is run by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/registry.h"

namespace {

class ToolsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "tranquo-tools-XXXXXX").string();
        folder_ = mkdtemp(pattern.data()) ? pattern : std::string();
        setenv("TRANQUO_REGISTRY", (fs::path(folder_) / "registry").c_str(), 1);
        platform::ReloadRegistry();
        if (!std::getenv("TRANQUO_PROGRAM_DIR")) {
            fs::path self = fs::read_symlink("/proc/self/exe");
            setenv("TRANQUO_PROGRAM_DIR", (self.parent_path().parent_path() / "bin").c_str(), 1);
        }
    }
    void TearDown() override {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }

private:
    std::string folder_;
};

const auto* registered = ::testing::AddGlobalTestEnvironment(new ToolsEnvironment);

} // namespace
