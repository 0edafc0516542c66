#include "frmSetup.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include "InstrumentIO.h"
#include "RuntimeError.h"
#include "SettingsStore.h"
#include "UpdateRun.h"
#include "WindowTexts.h"
#include "WrappingDelegate.h"
#include "frmConnect.h"
#include "modDialog.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

thread_local bool setupShowing = false;

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QPushButton* Button(const char* caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setAutoDefault(false);  // the window has no default button
    return button;
}

std::string TextOf(const QLineEdit* box) {
    return box->text().toStdString();
}

void SetText(QLineEdit* box, const std::string& text) {
    box->setText(QString::fromStdString(text));
}

}  // namespace

frmSetup::frmSetup(QWidget* owner) : QDialog(owner), services_(this) {
    setObjectName("frmSetup");
    setWindowTitle("Velmora KR470A Firmware Update");
    setFixedSize(Twips(this, 5850), Twips(this, 3720));
    BuildControls();
    SetTabOrder();
    SetWindowServices(&services_);
    Load();
}

frmSetup::~frmSetup() {
    SetWindowServices(nullptr);
}

void frmSetup::BuildControls() {
    tabSetup_ = OnWindow(new QTabWidget(this), "tabSetup", {120, 120, 5565, 2895});
    auto* settings = Named(new QWidget, "pageSettings");
    auto* connection = Named(new QWidget, "pageConnection");
    auto* updateFile = Named(new QWidget, "pageUpdateFile");
    tabSetup_->addTab(settings, "Settings");
    tabSetup_->addTab(connection, "Connection");
    tabSetup_->addTab(updateFile, "Update File");

    label1_ = OnPage(new QLabel("Connection:", settings), "Label1", {240, 480, 2295, 255});
    txtAddress_ = OnPage(new QLineEdit("GPIB0::10", settings), "txtAddress", {240, 840, 5055, 315});
    label2_ = OnPage(new QLabel("Input File:", settings), "Label2", {240, 1320, 3735, 255});
    txtInputFile_ = OnPage(new QLineEdit(".\\Tools\\VKR470_104.INI", settings), "txtInputFile",
                           {240, 1680, 5055, 285});
    chkChecking_ = OnPage(new QCheckBox("Strict Checking (Slower)", settings), "chkChecking",
                          {240, 2280, 4935, 255});

    label3_ = OnPage(new QLabel("KR470A Address", connection), "Label3", {240, 600, 1935, 255});
    txtConnectAddress_ =
        OnPage(new QLineEdit("GPIB0::10", connection), "txtConnectAddress", {240, 960, 5055, 285});
    cmdConnect_ =
        OnPage(Button("Connect to KR470A", connection), "cmdConnect", {240, 1440, 2295, 375});

    label4_ =
        OnPage(new QLabel("Firmware Update File", updateFile), "Label4", {240, 600, 2295, 255});
    txtFindFile_ =
        OnPage(new QLineEdit("VKR470_140.INI", updateFile), "txtFindFile", {240, 960, 5055, 285});
    cmdFindFile_ =
        OnPage(Button("Find Update File", updateFile), "cmdFindFile", {240, 1440, 2295, 375});

    cmdDescription_ =
        OnWindow(Button("Description", this), "cmdDescription", {120, 3240, 1335, 375});
    cmdOK_ = OnWindow(Button("Update", this), "cmdOK", {3480, 3240, 975, 375});
    cmdCancel_ = OnWindow(Button("Cancel", this), "cmdCancel", {4680, 3240, 975, 375});
    pbrUpdate_ = OnWindow(new QProgressBar(this), "pbrUpdate", {120, 3240, 5655, 255});
    pbrUpdate_->setRange(0, 100);
    pbrUpdate_->setValue(0);
    txtCurrentMsg_ = OnWindow(new QListWidget(this), "txtCurrentMsg", {120, 120, 5535, 2790});
    // Every line readable without scrolling sideways: long ones wrap.
    txtCurrentMsg_->setWordWrap(true);
    txtCurrentMsg_->setTextElideMode(Qt::ElideNone);
    txtCurrentMsg_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtCurrentMsg_->setResizeMode(QListView::Adjust);
    txtCurrentMsg_->setItemDelegate(new WrappingDelegate(
        txtCurrentMsg_,
        [list = txtCurrentMsg_](const QModelIndex&) {
            return list->viewport()->width() - 2 * list->spacing();
        },
        WrappingDelegate::Asks::kWrappedWidth));

    for (QLabel* label : {label1_, label2_, label3_, label4_})
        label->setFocusPolicy(Qt::NoFocus);
    pbrUpdate_->setFocusPolicy(Qt::NoFocus);

    connect(cmdConnect_, &QPushButton::clicked, this, [this] { ConnectToInstrument(); });
    connect(cmdFindFile_, &QPushButton::clicked, this, [this] { FindUpdateFile(); });
    connect(cmdDescription_, &QPushButton::clicked, this, [this] { ShowDescriptionOfFile(); });
    connect(cmdOK_, &QPushButton::clicked, this, [this] { Update(); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
}

template <typename Widget>
Widget* frmSetup::OnWindow(Widget* widget, const char* name, TwipRect place) {
    PlaceInTwips(Named(widget, name), place);
    return widget;
}

// Page controls are designed from the tab control's corner; Qt places them on
// the page below the tabs, so they move by the page's offset once it is known.
template <typename Widget>
Widget* frmSetup::OnPage(Widget* widget, const char* name, TwipRect place) {
    pagePlacements_.push_back({widget, place});
    return OnWindow(widget, name, place);
}

void frmSetup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Every page has the geometry of the current one.
    const QPoint offset = tabSetup_->currentWidget()->mapTo(tabSetup_, QPoint(0, 0));
    for (const PagePlacement& p : pagePlacements_) {
        PlaceInTwips(p.widget, p.place);
        p.widget->move(p.widget->pos() - offset);
    }
}

void frmSetup::SetTabOrder() {
    // Labels and the progress bar take no focus; the rest in the designed order.
    const std::vector<QWidget*> order = {tabSetup_,      txtAddress_,     txtInputFile_,
                                         cmdOK_,         cmdCancel_,      txtConnectAddress_,
                                         cmdConnect_,    txtFindFile_,    cmdFindFile_,
                                         txtCurrentMsg_, cmdDescription_, chkChecking_};
    for (size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void frmSetup::Load() {
    StrictChecking = 1;
    chkChecking_->setChecked(true);
    txtCurrentMsg_->hide();
    pbrUpdate_->hide();
    // Read once: a store that cannot be read leaves the designed texts, and
    // this window then never writes it (it would lose what the user stored).
    std::string problem;
    if (auto stored = ReadSettingsSection(kSettingsApplication, kSettingsSection, &problem)) {
        storeReadable_ = true;
        SetText(txtAddress_, SettingOr(*stored, kAddressKey, kDefaultAddress));
        SetText(txtInputFile_, SettingOr(*stored, kFileKey, kDefaultFile));
    } else {
        // Said once a showing, so the user knows why nothing they set comes back.
        ShowMessageBox(this, kSettingsUnreadableLead + problem + kSettingsUnreadableTail,
                       Buttons::kOk, Icon::kExclamation, kBoxTitle);
    }
    txtConnectAddress_->setText(txtAddress_->text());
    txtFindFile_->setText(txtInputFile_->text());
}

void frmSetup::done(int result) {
    if (!unloaded_ && storeReadable_) {
        SaveSetting(kSettingsApplication, kSettingsSection, kAddressKey, TextOf(txtAddress_));
        SaveSetting(kSettingsApplication, kSettingsSection, kFileKey, TextOf(txtInputFile_));
    }
    unloaded_ = true;
    QDialog::done(result);
}

// While the update runs the window cannot be closed: the download must not
// go on unseen. It closes by itself when the update returns.
void frmSetup::closeEvent(QCloseEvent* event) {
    if (updating_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frmSetup::reject() {
    if (!updating_)
        QDialog::reject();
}

// No button is the window's cancel button: Escape does nothing.
void frmSetup::keyPressEvent(QKeyEvent* event) {
    if (!SwallowEscape(event))
        QDialog::keyPressEvent(event);
}

void frmSetup::ReportError(const std::string& description) {
    ShowMessageBox(this, description, Buttons::kOk, Icon::kCritical, kBoxTitle);
}

void frmSetup::ConnectToInstrument() {
    try {
        frmConnect& finder = FinderWindow();
        finder.ShowModal(this);
        std::string address;
        if (finder.Connected(address)) {
            SetText(txtConnectAddress_, address);
            SetText(txtAddress_, address);
        }
        if (finder.Unloading())
            UnloadFinderWindow();
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
}

void frmSetup::FindUpdateFile() {
    try {
        bool cancelled = false;
        std::string path = PickUpdateFile(cancelled);
        if (!cancelled) {
            SetText(txtFindFile_, path);
            SetText(txtInputFile_, path);
        }
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
}

void frmSetup::ShowDescriptionOfFile() {
    ShowDescription(TextOf(txtInputFile_));
}

void frmSetup::ShowProgressFace() {
    tabSetup_->hide();
    cmdCancel_->hide();
    cmdOK_->hide();
    chkChecking_->hide();
    cmdDescription_->hide();
    txtCurrentMsg_->show();
    txtCurrentMsg_->setEnabled(true);
    pbrUpdate_->show();
}

void frmSetup::Update() {
    updating_ = true;
    try {
        StrictChecking = chkChecking_->isChecked() ? 1 : 0;
        ShowProgressFace();
        QCoreApplication::processEvents();
        ListWidgetMessages messages(txtCurrentMsg_);
        QtProgressBar progress(pbrUpdate_);
        RunUpdate(TextOf(txtAddress_), TextOf(txtInputFile_), progress, messages);
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
    updating_ = false;
    done(QDialog::Accepted);
}

bool ShowSetupWindow(QWidget* owner) {
    if (setupShowing)
        return false;
    setupShowing = true;
    {
        frmSetup window(owner);
        window.exec();
    }
    setupShowing = false;
    return true;
}

}  // namespace kestrel
