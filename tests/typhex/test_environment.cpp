// Removes the tests' private folder (registry store, written files) at the end.
#include <system_error>

#include "TyphexTestSupport.h"

namespace {

class PrivateFolderCleanup : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(typhextest::PrivateFolder(), ignored);
    }
};

[[maybe_unused]] ::testing::Environment* const cleanup =
    ::testing::AddGlobalTestEnvironment(new PrivateFolderCleanup);

} // namespace
