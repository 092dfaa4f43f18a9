// tranquo-cli recover run as its own process: messages that say what is
// wrong, and what a quiet run still prints.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/DeepScanStage.h"
#include "support/ProgramFolder.h"
#include "tests/common/FatImageBuilder.h"

namespace fs = std::filesystem;

namespace {

class RecoverMessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tranquo-recover-messages-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "docs");
        testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(32));
        card.AddFile(card.Root(), "DSC00001.JPG", std::vector<std::uint8_t>(3000, 0x41));
        card.WriteFile((dir_ / "card.img").string());
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs tranquo-cli on the card with a private registry and documents
    // folder (unless environment names others); returns the exit status.
    int Cli(const std::string& arguments, const std::string& environment = "") {
        const std::string command = "TRANQUO_REGISTRY='" + (dir_ / "registry").string() + "' XDG_DOCUMENTS_DIR='" +
                                    (dir_ / "docs").string() + "' " + environment + " '" + support::ProgramFolder() +
                                    "/tranquo-cli' --attach '" + (dir_ / "card.img").string() + "' " + arguments +
                                    " </dev/null >'" + (dir_ / "out.txt").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream in(dir_ / "out.txt");
        output_.assign(std::istreambuf_iterator<char>(in), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
    std::string output_;
};

TEST_F(RecoverMessagesTest, MessagesNameTheRealProblem) {
    EXPECT_EQ(Cli("recover --deep-only --dest '" + dir_.string() + "/out' --prefix " + std::string(300, 'x')), 2);
    EXPECT_NE(output_.find("--prefix: too long"), std::string::npos) << output_;

    std::ofstream(dir_ / "a-file") << "not a folder";
    EXPECT_EQ(Cli("--yes recover --dest '" + (dir_ / "a-file").string() + "'"), 1);
    EXPECT_NE(output_.find("a-file is a file, not a folder"), std::string::npos) << output_;
    EXPECT_EQ(output_.find("carved"), std::string::npos) << output_;

    // The settings store cannot be made where it is asked for: registering
    // the library fails, and the message names the store, not the class.
    const std::string store = (dir_ / "a-file" / "registry").string();
    EXPECT_EQ(Cli("--yes recover --dest '" + (dir_ / "out").string() + "'", "TRANQUO_REGISTRY='" + store + "'"), 1);
    EXPECT_NE(output_.find("settings store " + store + " cannot be written"), std::string::npos) << output_;
}

TEST_F(RecoverMessagesTest, QuietStillPrintsTheSummaryAndTheDestinationComesFirst) {
    EXPECT_EQ(Cli("-q recover --turbo-only"), 0) << output_;
    const std::string destination = "Recovered files go to " + (dir_ / "docs").string() + "/My Recovered Mobile Device/";
    EXPECT_EQ(output_.rfind(destination, 0), 0u) << output_;
    EXPECT_NE(output_.find("Turbo scan completed: 1 of 1 files saved"), std::string::npos) << output_;
}

// On a terminal: the bar carries the speed and the time left, and once the
// summary is printed no bar follows it (the run resets its progress after).
TEST(DeepScanConsole, TheBarShowsThePaceAndEndsWithTheSummary) {
    std::ostringstream out;
    cli::DeepScanConsole console(out, false, true);
    console.ShowProgress(40);
    console.ShowPace("12.3 MB/s");
    EXPECT_NE(out.str().rfind("40%  0 files  0 read errors  12.3 MB/s"), std::string::npos)
        << out.str();
    console.Summarize(wizard::DeepScanOutcome{}, 1.0, "/dest/");
    const std::size_t summary = out.str().find("Deep scan completed");
    ASSERT_NE(summary, std::string::npos);
    console.ShowProgress(0);
    console.ShowReadErrors(1);
    EXPECT_EQ(out.str().find("Deep scan [", summary), std::string::npos) << out.str();
}

} // namespace
