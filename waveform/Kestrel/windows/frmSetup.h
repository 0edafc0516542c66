// The plug-in's window: a settings face (three-page tab control with the
// address, the update file and strict checking, and the buttons
// "Description", "Update" and "Cancel") and a progress face (message list
// and progress bar) while the update runs. It closes after every update
// attempt and stores the address and file path for the next opening.
#pragma once

#include <QDialog>
#include <vector>

#include "QtWindowServices.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace kestrel {

class frmSetup : public QDialog {
  public:
    // Form load.
    explicit frmSetup(QWidget* owner = nullptr);
    ~frmSetup() override;

    // Form unload: stores the settings, whichever way the window closes.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    struct PagePlacement {
        QWidget* widget;
        TwipRect place;  // from the tab control's corner
    };

    void BuildControls();
    template <typename Widget>
    Widget* OnWindow(Widget* widget, const char* name, TwipRect place);
    template <typename Widget>
    Widget* OnPage(Widget* widget, const char* name, TwipRect place);
    void SetTabOrder();
    void Load();
    void ConnectToInstrument();
    void FindUpdateFile();
    void ShowDescriptionOfFile();
    void Update();
    void ShowProgressFace();
    void ReportError(const std::string& description);

    QtWindowServices services_;
    bool unloaded_ = false;
    bool storeReadable_ = false;  // decided once, at load: no saves when it was not
    bool updating_ = false;
    std::vector<PagePlacement> pagePlacements_;

    QTabWidget* tabSetup_;
    QLabel* label1_;
    QLineEdit* txtAddress_;
    QLabel* label2_;
    QLineEdit* txtInputFile_;
    QCheckBox* chkChecking_;
    QLabel* label3_;
    QLineEdit* txtConnectAddress_;
    QPushButton* cmdConnect_;
    QLabel* label4_;
    QLineEdit* txtFindFile_;
    QPushButton* cmdFindFile_;
    QPushButton* cmdDescription_;
    QPushButton* cmdOK_;
    QPushButton* cmdCancel_;
    QProgressBar* pbrUpdate_;
    QListWidget* txtCurrentMsg_;
};

// Shows the thread's setup window modally, loaded afresh, and returns when it
// has closed. False when it cannot be shown (one is already showing here).
bool ShowSetupWindow(QWidget* owner);

}  // namespace kestrel
