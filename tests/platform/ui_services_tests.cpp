// The scripted and console user-interface services.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/ui.h"
#include "tests/platform/drives_test_support.h"

using namespace platform;

namespace {

TEST(ScriptedUi, AnswersFromItsQueueInOrderAndRecordsEveryBox) {
    ScriptedUi ui;
    ScopedUi installed(ui);
    ui.QueueAnswer(IDNO);
    ui.QueueAnswer(IDYES);
    EXPECT_EQ(MsgBox("Delete the earlier results?", vbYesNo | vbQuestion, "Recovery"), IDNO);
    EXPECT_EQ(MsgBox("Run the deep scan?", vbYesNo | vbQuestion, "Recovery"), IDYES);
    // An empty queue: OK boxes get OK, others their default button.
    EXPECT_EQ(MsgBox("Done", vbInformation, "Recovery"), IDOK);
    EXPECT_EQ(MsgBox("Overwrite?", vbYesNo | vbDefaultButton2, "Deep scan"), IDNO);
    EXPECT_EQ(MsgBox("Save?", vbYesNoCancel), IDYES);
    EXPECT_EQ(MsgBox("Save?", vbYesNoCancel | vbDefaultButton3), IDCANCEL);
    EXPECT_EQ(MsgBox("Go on?", vbOKCancel | vbDefaultButton2), IDCANCEL);

    ASSERT_EQ(ui.boxes.size(), 7u);
    EXPECT_EQ(ui.boxes[0].text, "Delete the earlier results?");
    EXPECT_EQ(ui.boxes[0].style, vbYesNo | vbQuestion);
    EXPECT_EQ(ui.boxes[0].title, "Recovery");
    EXPECT_EQ(ui.boxes[0].answer, IDNO);
    EXPECT_EQ(ui.boxes[1].answer, IDYES);
    EXPECT_EQ(ui.boxes[3].style, 260);
}

TEST(ScriptedUi, RunsAnActionAtTheNthPump) {
    ScriptedUi ui;
    ScopedUi installed(ui);
    bool stopRequested = false;
    long stoppedAt = 0;
    ui.AtPump(3, [&] {
        stopRequested = true;
        stoppedAt = ui.pumpCount;
    });
    long loops = 0;
    while (!stopRequested && loops < 100) {
        ++loops;
        DoEvents();
    }
    EXPECT_EQ(loops, 3);
    EXPECT_EQ(stoppedAt, 3);
    // An action may schedule another.
    ui.AtPump(4, [&] { ui.AtPump(5, [&] { stoppedAt = 5; }); });
    DoEvents();
    DoEvents();
    EXPECT_EQ(stoppedAt, 5);
}

TEST(ScriptedUi, FileDialogsAnswerFromTheirQueueOrCancel) {
    ScriptedUi ui;
    ui.QueueFileAnswer("/tmp/card.img");
    FileDialogRequest save{"Save the image as", OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN, true};
    EXPECT_EQ(ui.FileDialog(save), "/tmp/card.img");
    EXPECT_EQ(ui.FileDialog(save), "");
    ASSERT_EQ(ui.dialogs.size(), 2u);
    EXPECT_EQ(ui.dialogs[0].flags, 0x8006u);
    EXPECT_TRUE(ui.dialogs[0].save);
}

TEST(UiServices, TheDefaultIsAConsoleThatNeverBlocks) {
    SetUi(nullptr);
    EXPECT_NE(dynamic_cast<ConsoleUi*>(&Ui()), nullptr);
    ScriptedUi ui;
    SetUi(&ui);
    EXPECT_EQ(&Ui(), &ui);
    SetUi(nullptr);
    EXPECT_NE(&Ui(), &ui);
}

// A console whose input and output are temporary files.
struct Console {
    explicit Console(const std::string& input, bool terminal, bool assumeYes = false, bool quiet = false) {
        in = std::tmpfile();
        out = std::tmpfile();
        std::fputs(input.c_str(), in);
        std::rewind(in);
        ConsoleUi::Options options;
        options.assumeYes = assumeYes;
        options.quiet = quiet;
        options.input = in;
        options.output = out;
        options.terminal = terminal ? 1 : 0;
        ui = std::make_unique<ConsoleUi>(options);
    }
    ~Console() {
        std::fclose(in);
        std::fclose(out);
    }
    std::string Printed() {
        std::fflush(out);
        std::rewind(out);
        std::string text;
        int c;
        while ((c = std::fgetc(out)) != EOF) text += static_cast<char>(c);
        return text;
    }
    std::FILE* in;
    std::FILE* out;
    std::unique_ptr<ConsoleUi> ui;
};

TEST(ConsoleUi, WithoutATerminalQuestionsAreAnsweredNoOrCancel) {
    Console console("y\n", false);
    EXPECT_EQ(console.ui->MessageBox("Erase the card?", vbYesNo | vbQuestion, "Erase"), IDNO);
    EXPECT_EQ(console.ui->MessageBox("Save?", vbYesNoCancel, "Save"), IDCANCEL);
    EXPECT_EQ(console.ui->MessageBox("Go on?", vbOKCancel, ""), IDCANCEL);
    EXPECT_EQ(console.ui->MessageBox("Finished.", vbInformation, "Backup"), IDOK);
    std::string printed = console.Printed();
    EXPECT_NE(printed.find("Erase: Erase the card?"), std::string::npos);
    EXPECT_NE(printed.find("Backup: Finished."), std::string::npos);
    EXPECT_NE(printed.find("--yes"), std::string::npos);
}

TEST(ConsoleUi, YesAnswersEveryQuestionWithoutAsking) {
    Console console("n\n", true, true);
    EXPECT_EQ(console.ui->MessageBox("Erase the card?", vbYesNo | vbDefaultButton2, "Erase"), IDYES);
    EXPECT_EQ(console.ui->MessageBox("Go on?", vbOKCancel, ""), IDOK);
    EXPECT_EQ(std::fgetc(console.in), 'n'); // nothing was read
}

TEST(ConsoleUi, OnATerminalTheAnswerIsRead) {
    Console console("n\nYES\n\nmaybe\nc\n", true);
    EXPECT_EQ(console.ui->MessageBox("Q1", vbYesNo, "T"), IDNO);
    EXPECT_EQ(console.ui->MessageBox("Q2", vbYesNo, "T"), IDYES);
    EXPECT_EQ(console.ui->MessageBox("Q3", vbYesNo | vbDefaultButton2, "T"), IDNO); // empty: the default
    EXPECT_EQ(console.ui->MessageBox("Q4", vbYesNoCancel, "T"), IDCANCEL);          // asks again after "maybe"
    EXPECT_EQ(console.ui->MessageBox("Q5", vbYesNo, "T"), IDNO);                     // end of input
    std::string printed = console.Printed();
    EXPECT_NE(printed.find("Yes/No/Cancel [Yes]?"), std::string::npos);
}

TEST(ConsoleUi, QuietHidesOnlyInformation) {
    Console console("", false, false, true);
    console.ui->MessageBox("Finished.", vbInformation, "Backup");
    console.ui->MessageBox("Cannot read the card.", vbExclamation, "Backup");
    std::string printed = console.Printed();
    EXPECT_EQ(printed.find("Finished."), std::string::npos);
    EXPECT_NE(printed.find("Cannot read the card."), std::string::npos);
}

TEST(ConsoleUi, FileDialogsTakeQueuedPathsAndCheckTheFlags) {
    drivetest::TempFolder temp;
    std::string existing = temp.File("old.img");
    { std::FILE* f = std::fopen(existing.c_str(), "w"); std::fclose(f); }
    Console console("", false);
    FileDialogRequest open{"Image to restore", OFN_FILEMUSTEXIST, false};
    console.ui->QueueFileAnswer(temp.File("missing.img"));
    console.ui->QueueFileAnswer(existing);
    EXPECT_EQ(console.ui->FileDialog(open), existing); // the missing one is refused, the next taken
    EXPECT_EQ(console.ui->FileDialog(open), "");       // nothing queued and no terminal: cancelled

    // Saving over an existing file needs a Yes, which a console without a terminal does not give.
    FileDialogRequest save{"Save the image as", OFN_OVERWRITEPROMPT, true};
    console.ui->QueueFileAnswer(existing);
    EXPECT_EQ(console.ui->FileDialog(save), "");
    console.ui->QueueFileAnswer(temp.File("new.img"));
    EXPECT_EQ(console.ui->FileDialog(save), temp.File("new.img"));
}

TEST(ConsoleUi, ThePumpCallsBack) {
    Console console("", false);
    int pumps = 0;
    console.ui->onPump = [&] { ++pumps; };
    console.ui->DoEvents();
    console.ui->DoEvents();
    EXPECT_EQ(pumps, 2);
}

} // namespace
