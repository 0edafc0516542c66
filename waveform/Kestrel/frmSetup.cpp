#include "frmSetup.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
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
#include "frmConnect.h"
#include "modDialog.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

constexpr const char* kDefaultAddress = "GPIB0::10";
constexpr const char* kDefaultFile = "VKR470_104.INI";
constexpr const char* kAddressKey = "IOAddress";
constexpr const char* kFileKey = "INIFile";

constexpr const char* kFileFilter = "Firmware Updates (*.ini)|*.ini|All Files (*.*)|*.*";
constexpr const char* kOpenDirKey = "OpenDir";
constexpr const char* kSuggestedFile = "VKR470_104.ini";
constexpr const char* kFindFileTitle = "Find Firmware Update File";

thread_local bool setupShowing = false;

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* button = Named(new QPushButton(caption, parent), name);
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
    tabSetup_ = Named(new QTabWidget(this), "tabSetup");
    PlaceInTwips(tabSetup_, 120, 120, 5565, 2895);
    auto* settings = Named(new QWidget, "pageSettings");
    auto* connection = Named(new QWidget, "pageConnection");
    auto* updateFile = Named(new QWidget, "pageUpdateFile");
    tabSetup_->addTab(settings, "Settings");
    tabSetup_->addTab(connection, "Connection");
    tabSetup_->addTab(updateFile, "Update File");

    label1_ = Named(new QLabel("Connection:", settings), "Label1");
    PlaceOnPage(label1_, 240, 480, 2295, 255);
    txtAddress_ = Named(new QLineEdit("GPIB0::10", settings), "txtAddress");
    PlaceOnPage(txtAddress_, 240, 840, 5055, 315);
    label2_ = Named(new QLabel("Input File:", settings), "Label2");
    PlaceOnPage(label2_, 240, 1320, 3735, 255);
    txtInputFile_ = Named(new QLineEdit(".\\Tools\\VKR470_104.INI", settings), "txtInputFile");
    PlaceOnPage(txtInputFile_, 240, 1680, 5055, 285);
    chkChecking_ = Named(new QCheckBox("Strict Checking (Slower)", settings), "chkChecking");
    PlaceOnPage(chkChecking_, 240, 2280, 4935, 255);

    label3_ = Named(new QLabel("KR470A Address", connection), "Label3");
    PlaceOnPage(label3_, 240, 600, 1935, 255);
    txtConnectAddress_ = Named(new QLineEdit("GPIB0::10", connection), "txtConnectAddress");
    PlaceOnPage(txtConnectAddress_, 240, 960, 5055, 285);
    cmdConnect_ = Button("cmdConnect", "Connect to KR470A", connection);
    PlaceOnPage(cmdConnect_, 240, 1440, 2295, 375);

    label4_ = Named(new QLabel("Firmware Update File", updateFile), "Label4");
    PlaceOnPage(label4_, 240, 600, 2295, 255);
    txtFindFile_ = Named(new QLineEdit("VKR470_140.INI", updateFile), "txtFindFile");
    PlaceOnPage(txtFindFile_, 240, 960, 5055, 285);
    cmdFindFile_ = Button("cmdFindFile", "Find Update File", updateFile);
    PlaceOnPage(cmdFindFile_, 240, 1440, 2295, 375);

    cmdDescription_ = Button("cmdDescription", "Description", this);
    PlaceInTwips(cmdDescription_, 120, 3240, 1335, 375);
    cmdOK_ = Button("cmdOK", "Update", this);
    PlaceInTwips(cmdOK_, 3480, 3240, 975, 375);
    cmdCancel_ = Button("cmdCancel", "Cancel", this);
    PlaceInTwips(cmdCancel_, 4680, 3240, 975, 375);
    pbrUpdate_ = Named(new QProgressBar(this), "pbrUpdate");
    pbrUpdate_->setRange(0, 100);
    pbrUpdate_->setValue(0);
    PlaceInTwips(pbrUpdate_, 120, 3240, 5655, 255);
    txtCurrentMsg_ = Named(new QListWidget(this), "txtCurrentMsg");
    PlaceInTwips(txtCurrentMsg_, 120, 120, 5535, 2790);

    for (QLabel* label : {label1_, label2_, label3_, label4_})
        label->setFocusPolicy(Qt::NoFocus);
    pbrUpdate_->setFocusPolicy(Qt::NoFocus);

    connect(cmdConnect_, &QPushButton::clicked, this, [this] { ConnectToInstrument(); });
    connect(cmdFindFile_, &QPushButton::clicked, this, [this] { FindUpdateFile(); });
    connect(cmdDescription_, &QPushButton::clicked, this, [this] { ShowDescriptionOfFile(); });
    connect(cmdOK_, &QPushButton::clicked, this, [this] { Update(); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
}

// Page controls are designed from the tab control's corner; Qt places them on
// the page below the tabs, so they move by the page's offset once it is known.
void frmSetup::PlaceOnPage(QWidget* widget, int left, int top, int width, int height) {
    pagePlacements_.push_back({widget, left, top, width, height});
    PlaceInTwips(widget, left, top, width, height);
}

void frmSetup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Every page has the geometry of the current one.
    const QPoint offset = tabSetup_->currentWidget()->mapTo(tabSetup_, QPoint(0, 0));
    for (const PagePlacement& p : pagePlacements_) {
        p.widget->setGeometry(Twips(this, p.left) - offset.x(), Twips(this, p.top) - offset.y(),
                              Twips(this, p.width), Twips(this, p.height));
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
    // A store that cannot be read leaves the designed text.
    if (auto address =
            GetSetting(kSettingsApplication, kSettingsSection, kAddressKey, kDefaultAddress))
        SetText(txtAddress_, *address);
    if (auto file = GetSetting(kSettingsApplication, kSettingsSection, kFileKey, kDefaultFile))
        SetText(txtInputFile_, *file);
    txtConnectAddress_->setText(txtAddress_->text());
    txtFindFile_->setText(txtInputFile_->text());
}

void frmSetup::done(int result) {
    if (!unloaded_) {
        unloaded_ = true;
        SaveSetting(kSettingsApplication, kSettingsSection, kAddressKey, TextOf(txtAddress_));
        SaveSetting(kSettingsApplication, kSettingsSection, kFileKey, TextOf(txtInputFile_));
    }
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
        std::string path =
            FileOpenHelper(cancelled, kFileFilter, kOpenDirKey, kSuggestedFile, kFindFileTitle);
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
        std::unique_ptr<InstrumentIO> io = CreateIOFactory()->OpenInstrument(TextOf(txtAddress_));
        std::string path = TextOf(txtInputFile_);
        ListWidgetMessages messages(txtCurrentMsg_);
        QtProgressBar progress(pbrUpdate_);
        if (UpdateFirmware(path, *io, progress, messages) != kUpdateCommitted)
            ShowMessageBox(this, "Firmware update failed!", Buttons::kOk, Icon::kCritical,
                           kBoxTitle);
        io.reset();  // ends the connection
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
