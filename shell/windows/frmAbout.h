// The about and support window: the program's and the library's versions,
// how to reach support, and links to the web site, the questions and
// answers and the download page.
#pragma once

#include <QWidget>

namespace shell {

class frmAbout : public QWidget {
    Q_OBJECT
public:
    frmAbout();

protected:
    // Escape closes the window, as its OK button does.
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace shell
