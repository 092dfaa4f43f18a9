// Linked into every test program: points the tests at a private registry
// store, the build's program folder and the test data, unless the caller
// has set them already. Runs before main, so every test sees the same.
#include <cstdlib>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        setenv("TRANQUO_REGISTRY", TRANQUO_TEST_REGISTRY, 0);
        setenv("TRANQUO_PROGRAM_DIR", TRANQUO_TEST_PROGRAM_DIR, 0);
        setenv("TRANQUO_TEST_DATA", TRANQUO_TEST_DATA_DIR, 0);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
};

const TestEnvironment environment;

} // namespace
