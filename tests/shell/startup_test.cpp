// Start-up decisions below the windows: the splash's translucency settings
// and the one-copy lock.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

#include "shell/ProgramInstance.h"
#include "shell/Startup.h"
#include "TestFolder.h"

namespace {

TEST(Splash, TranslucencyFlagsAndAlphaFollowTheSettings) {
    shell::TranslucentSettings settings; // as designed: colour key only
    EXPECT_EQ(settings.Flags(), 1);
    EXPECT_EQ(settings.Alpha(), 255);
    settings.chkAlpha = true;
    settings.txtTransparency = "300";
    EXPECT_EQ(settings.Flags(), 3);
    EXPECT_EQ(settings.Alpha(), 255);
    settings.chkColor = false;
    settings.txtTransparency = "99999999999999999999";
    EXPECT_EQ(settings.Flags(), 2);
    EXPECT_EQ(settings.Alpha(), 255);
    settings.txtTransparency = "";
    EXPECT_EQ(settings.Alpha(), 0);
    EXPECT_EQ(shell::VersionText().rfind("Version ", 0), 0u);
}

TEST(ProgramInstance, AnotherRunningCopyIsSeenAndACrashedOneIsNot) {
    testing_support::TestFolder runtime;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) { // the first copy: takes the lock and runs until killed
        shell::InstanceLock lock(shell::InstanceLockPath());
        const char held = lock.Held() ? 'y' : 'n';
        (void)!write(ready[1], &held, 1);
        for (;;) pause();
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    EXPECT_TRUE(shell::AnotherCopyIsRunning());

    kill(other, SIGKILL); // a crash: nothing is cleaned up
    waitpid(other, nullptr, 0);
    EXPECT_FALSE(shell::AnotherCopyIsRunning());
    EXPECT_FALSE(shell::InstanceLock(shell::InstanceLockPath()).Held()); // now ours

    close(ready[0]);
    close(ready[1]);
    if (saved) setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
