// The program's windows by name ("frmMainMenu"), as the windows open one
// another: a window registers its factory where it is defined, so that
// windows built in other subsystems are found without a link between them.
//
//     namespace {
//     platform::desktop::FormRegistration registration("frmAbout", [] { return new frmAbout; });
//     }
//
// A loaded window is deleted when it is unloaded (Unload, or a close the
// window accepts); the next LoadForm makes a new one.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace platform::desktop {

using FormFactory = std::function<QWidget*()>;

struct FormRegistration {
    FormRegistration(const char* name, FormFactory factory);
};

// The names of the program's windows, sorted.
std::vector<std::string> FormNames();
// True when the program has a window of this name.
bool FormExists(const std::string& name);
// The loaded window of this name, or null.
QWidget* FindForm(const std::string& name);
// The loaded window, or a new one (not shown yet); null when the program
// has no such window.
QWidget* LoadForm(const std::string& name);
// LoadForm, then shows it (restored when minimised) and brings it to the
// front. A window that was not on screen is centred on the screen of the
// window in front, the one it replaces.
QWidget* ShowForm(const std::string& name);
// Closes and deletes the window, even one that refuses close requests.
void Unload(QWidget* window);

} // namespace platform::desktop
