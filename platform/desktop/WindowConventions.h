// What every window of the program repeats: controls named as the windows
// name them (the objectName, which tests and the screen reader's tree use),
// captions from a language section by entry number (also the accessible
// name), a fixed size, no close button, and a colour key for shaped windows.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>

class QAbstractButton;
class QLabel;
class QWidget;

namespace platform::desktop {

// A new control of type W named name, child of parent.
template <class W>
W* NewControl(QWidget* parent, const char* name) {
    W* control = new W(parent);
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

// The caption of a window (its title), button, option, check box, label or
// frame, and the accessible name that goes with it.
void SetCaption(QWidget* control, const QString& caption);
// texts[entry - 1] of a loaded section as control's caption; nothing when
// the section has no such entry (the control keeps its design caption).
void SetCaption(QWidget* control, const std::vector<std::string>& texts, int entry);
// The text of an entry (1-based), or fallback when there is none.
QString EntryText(const std::vector<std::string>& texts, int entry, const QString& fallback = {});

// Makes label a link to address that shows shown (the address by default):
// a click on it, or Enter or Space once Tab has reached it, emits the
// label's linkActivated(address). The screen reader finds a link named
// shown, which its press action follows too. Made again, it shows the new
// text.
void MakeLink(QLabel* label, const QString& address, const QString& shown = {});
// The same for a label that shows picture instead of a text, for the mouse
// and the screen reader only (Tab passes it by); name is what the screen
// reader and the tool tip call it.
void MakePictureLink(QLabel* label, const QString& address, const QPixmap& picture, const QString& name);

// Calls chosen whenever option (a radio button) becomes checked, whatever
// checked it: a click, the keyboard, the screen reader's toggle action or
// the program; and when it is clicked while checked already (choosing it
// again). Never for an option that becomes unchecked.
void OnChosen(QAbstractButton* option, std::function<void()> chosen);

// Dragging handle (or a child that leaves the mouse to it) with the left
// button moves its window by the distance the mouse has travelled since the
// button went down. Where the window system moves windows itself (Wayland,
// most X window managers) it is asked to.
void MoveWindowByDragging(QWidget* handle);

// The window loses its close button (title bar, system menu) and refuses
// close requests from the user; the program unloads it with Unload.
// Minimising stays possible.
void RemoveCloseItem(QWidget* window);
// Lets the window close again (Unload does this).
void AllowClose(QWidget* window);

// Sets the window to a fixed size: width (or the narrowest the layout
// allows, if wider) and the height the layout needs at that width. It
// cannot be resized afterwards, except by minimising.
void SetFixedDesignSize(QWidget* window, int width);

// Layered-window flags.
constexpr int LWA_COLORKEY = 1;
constexpr int LWA_ALPHA = 2;
// With LWA_COLORKEY every pixel of the window's current picture that has
// exactly the colour key becomes see-through (a window mask, so no
// compositor is needed); with LWA_ALPHA the window gets the opacity
// alpha / 255. Call it after the window has its size and contents.
void SetTranslucent(QWidget* window, QColor colorKey, int alpha, int flags);

// An SVG picture (a resource such as ":/shell/splash.svg") drawn at a
// logical size: for the screen at its pixel ratio, or as an image of one
// pixel per logical pixel. Antialiasing can be turned off where a colour
// key must stay exact.
QPixmap RenderSvg(const QString& path, QSize size, qreal pixelRatio);
QImage RenderSvgImage(const QString& path, QSize size, bool antialiased = true);

} // namespace platform::desktop
