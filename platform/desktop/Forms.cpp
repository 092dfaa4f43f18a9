#include "platform/desktop/Forms.h"

#include <map>

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include "platform/desktop/WindowConventions.h"

namespace platform::desktop {

namespace {

struct Form {
    FormFactory factory;
    QPointer<QWidget> loaded;
};

std::map<std::string, Form>& Registry() {
    static std::map<std::string, Form> forms;
    return forms;
}

// The screen of the window in front (the one a new window replaces), else
// of any window on screen, else the primary one.
QScreen* ScreenInUse(const QWidget* except) {
    if (QWidget* active = QApplication::activeWindow(); active && active != except) return active->screen();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != except && window->isVisible() && !window->isMinimized()) return window->screen();
    return QGuiApplication::primaryScreen();
}

void CentreOn(QWidget* window, const QScreen* screen) {
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

} // namespace

FormRegistration::FormRegistration(const char* name, FormFactory factory) {
    Registry()[name].factory = std::move(factory);
}

std::vector<std::string> FormNames() {
    std::vector<std::string> names;
    for (const auto& [name, form] : Registry()) names.push_back(name);
    return names;
}

bool FormExists(const std::string& name) { return Registry().count(name) != 0; }

QWidget* FindForm(const std::string& name) {
    auto found = Registry().find(name);
    return found == Registry().end() ? nullptr : found->second.loaded.data();
}

QWidget* LoadForm(const std::string& name) {
    auto found = Registry().find(name);
    if (found == Registry().end()) return nullptr;
    Form& form = found->second;
    if (!form.loaded) {
        QWidget* window = form.factory();
        window->setAttribute(Qt::WA_DeleteOnClose);
        form.loaded = window;
    }
    return form.loaded;
}

QWidget* ShowForm(const std::string& name) {
    QWidget* window = LoadForm(name);
    if (!window) return nullptr;
    // A window that comes up (new, or back from hiding) takes the middle of
    // the screen the user is looking at; one already up stays where it is.
    if (!window->isVisible()) CentreOn(window, ScreenInUse(window));
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void Unload(QWidget* window) {
    if (!window) return;
    AllowClose(window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->close();
}

} // namespace platform::desktop
