// A program folder of its own with language files written by the test, a
// private runtime folder (the second-copy lock), a locale, scripted message
// boxes, a recorded "end the program" and recorded browser starts. Every
// window still loaded is unloaded afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include "platform/desktop/Forms.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/LanguageFile.h"
#include "shell/frmPasser.h"
#include "tests/shell/TestFolder.h"

namespace testing_support {

// True once the window is deleted (unloading deletes it a moment later).
// QtTest's own QTRY_ and QVERIFY macros report to QtTest, not to
// GoogleTest: use this and EXPECT_ instead.
inline bool Unloaded(const QPointer<QWidget>& window) {
    return QTest::qWaitFor([&window] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }, 2000);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnv("TRANQUO_PROGRAM_DIR", programFolder_.Path());
        SetEnv("XDG_RUNTIME_DIR", runtimeFolder_.Path());
        SetLocale("en_GB.UTF-8");
        savedPasser_ = shell::frmPasser();
        shell::frmPasser().txtAppPath.clear();
        ui_ = std::make_unique<platform::ScopedUi>(scripted_);
        shell::SetEndProgramHook([this] { ++programEnds_; });
        platform::SetShellLauncher([this](const std::string& target) {
            opened_.push_back(target);
            return true;
        });
    }
    void TearDown() override {
        for (const std::string& name : platform::desktop::FormNames())
            platform::desktop::Unload(platform::desktop::FindForm(name));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        platform::SetShellLauncher({});
        shell::SetEndProgramHook({});
        ui_.reset();
        shell::frmPasser() = savedPasser_;
        for (const auto& [name, value] : savedEnv_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }

    void SetEnv(const std::string& name, const std::string& value) {
        if (!savedEnv_.count(name)) {
            const char* old = std::getenv(name.c_str());
            savedEnv_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        setenv(name.c_str(), value.c_str(), 1);
    }
    void SetLocale(const std::string& locale) {
        SetEnv("LC_ALL", locale);
        SetEnv("LC_MESSAGES", locale);
        SetEnv("LANG", locale);
    }
    // count entries "Knn     = <prefix>n" under header, for language.
    void WriteSection(const std::string& language, const std::string& header, int count, const std::string& prefix) {
        std::string& file = files_[language];
        file += header + "\r\n";
        for (int n = 1; n <= count; ++n) {
            std::string key = "K" + std::to_string(n);
            key.resize(7, ' ');
            file += key + " = " + prefix + std::to_string(n) + "\r\n";
        }
        WriteBytes(programFolder_ / ("Language/" + language + "/Language.ini"), file);
    }
    template <class W = QWidget>
    static W* Find(QWidget* window, const char* name) {
        W* control = window->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    TestFolder programFolder_;
    TestFolder runtimeFolder_;
    platform::ScriptedUi scripted_;
    int programEnds_ = 0;
    std::vector<std::string> opened_;

private:
    std::unique_ptr<platform::ScopedUi> ui_;
    shell::StringStore savedPasser_;
    std::map<std::string, std::optional<std::string>> savedEnv_;
    std::map<std::string, std::string> files_;
};

} // namespace testing_support
