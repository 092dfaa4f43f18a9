// The main menu: five options and Next, Close, and its own title bar.
#pragma once

#include <QWidget>

#include "shell/MainMenu.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace shell {

class TitleBar;

class frmMainMenu : public QWidget {
    Q_OBJECT
public:
    frmMainMenu();

    // What loading found (language, texts, folders); ended when the program
    // was ended while loading.
    const MainMenuState& State() const { return state_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void LoadTexts();
    MenuOption ChosenOption() const;
    void ClearOption();
    void butNext_Click();
    void butClose_Click();
    void ShowAbout();
    // Shows the window, or says that this version does not have it; true
    // when shown.
    bool ShowOrExplain(const char* window);
    void OpenInBrowser(const char* address);

    MainMenuState state_;
    QSize designSize_;
    bool arrowKeyMove_ = false;

    TitleBar* titleBar_;
    QLabel* lblInfo;
    QLabel* Label2;
    QGroupBox* XPFrame201;
    QLabel* Label6;
    QRadioButton* optRecover;
    QRadioButton* optView;
    QRadioButton* optAdvanced;
    QRadioButton* optHelp;
    QRadioButton* optUpdates;
    QLabel* lblIntCon;
    QLabel* Label11;
    QPushButton* butNext;
    QPushButton* butClose;
    QButtonGroup* options_;
};

} // namespace shell
