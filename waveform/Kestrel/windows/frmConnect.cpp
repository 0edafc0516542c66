#include "frmConnect.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "FinderJobs.h"
#include "QtWindowServices.h"
#include "RuntimeError.h"
#include "VlmDiscovery.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace kestrel {
namespace {

// Widgets may only be deleted while the application object exists; a window
// that outlives it is left to the process's end.
struct FinderHolder {
    std::unique_ptr<frmConnect> window;
    void Reset() {
        if (QApplication::instance() != nullptr)
            window.reset();
        else
            (void)window.release();
    }
    ~FinderHolder() { Reset(); }
};

thread_local FinderHolder finder;

}  // namespace

frmConnect::frmConnect(QWidget* owner) : QDialog(owner) {
    setObjectName("frmConnect");
    setWindowTitle("Find Velmora KR470A");
    // The menu bar takes its own height above the designed client area.
    menu_ = new QMenuBar(this);
    menu_->setObjectName("mnuBar");
    QMenu* junk = menu_->addMenu("Junk");
    junk->setObjectName("mnuJunk");
    junk->addAction("Help")->setObjectName("mnuHelp");  // no action, as designed
    const int menuHeight = menu_->sizeHint().height();
    menu_->setGeometry(0, 0, Twips(this, 8250), menuHeight);

    discovery_ = new VlmDiscovery(this);
    PlaceInTwips(discovery_, {120, 120, 8055, 3735});
    discovery_->move(discovery_->x(), discovery_->y() + menuHeight);
    cmdClose_ = new QPushButton("Close", this);
    cmdClose_->setObjectName("cmdClose");
    cmdClose_->setAutoDefault(false);
    PlaceInTwips(cmdClose_, {6960, 3960, 1215, 495});
    cmdClose_->move(cmdClose_->x(), cmdClose_->y() + menuHeight);
    // The designed size is the least; the list may make the window taller.
    designed_ = QSize(Twips(this, 8250), Twips(this, 4620) + menuHeight);
    setMinimumSize(designed_);
    resize(designed_);
    discovery_->SetGrowRequest([this](int missing) { Grow(missing); });
    QObject::connect(cmdClose_, &QPushButton::clicked, this, [this] { Close(); });
    Load();
}

void frmConnect::Load() {
    chosenAddress_.clear();
    connected_ = false;
    try {
        std::shared_ptr<SearchCriteria> criteria = FinderCriteria();
        discovery_->SetConnectButtonsVisible(true);
        discovery_->SetSupportInstrumentsLabelVisible(true);
        discovery_->SetSearchOnCriteria(true);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        Wait(kLoadWaitMs);
        discovery_->SetCriteria(std::move(criteria));  // the control keeps them
        QApplication::restoreOverrideCursor();
    } catch (const std::exception& error) {
        if (QApplication::overrideCursor() != nullptr)
            QApplication::restoreOverrideCursor();
        ShowMessageBox(this, error.what(), Buttons::kOk, Icon::kCritical, kFinderLoadErrorTitle);
    }
}

// Taller by `missing` pixels, as far as the screen's free area allows.
void frmConnect::Grow(int missing) {
    int most = height() + missing;
    if (const QScreen* screen = this->screen()) {
        const int frame = frameGeometry().height() - height();
        most = std::max(height(), screen->availableGeometry().height() - frame);
    }
    resize(width(), std::min(height() + missing, most));
}

// The control and the "Close" button keep their designed margins.
void frmConnect::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const QSize extra = size() - designed_;
    const int menuHeight = menu_->height();
    menu_->resize(width(), menuHeight);
    PlaceInTwips(discovery_, {120, 120, 8055, 3735});
    discovery_->setGeometry(discovery_->x(), discovery_->y() + menuHeight,
                            discovery_->width() + extra.width(),
                            discovery_->height() + extra.height());
    PlaceInTwips(cmdClose_, {6960, 3960, 1215, 495});
    cmdClose_->move(cmdClose_->x() + extra.width(), cmdClose_->y() + menuHeight + extra.height());
}

// Every step reports its own failure and the next one still runs.
void frmConnect::Close() {
    if (discovery_->Searching())
        discovery_->StopSearch();  // the update about to start must not wait behind probes
    std::shared_ptr<InstrumentIO> io;
    try {
        std::shared_ptr<SearchCriteria> criteria = discovery_->Criteria();
        if (!criteria)
            throw RuntimeError(91, "Object variable or With block variable not set");
        io = criteria->IOObject;
    } catch (const std::exception& error) {
        ShowMessageBox(this, error.what(), Buttons::kOk, Icon::kNone, kFinderCloseErrorTitle);
    }
    if (io) {
        connected_ = true;
        try {
            chosenAddress_ = io->GetAddress();
        } catch (const std::exception& error) {
            ShowMessageBox(this, error.what(), Buttons::kOk, Icon::kNone, kFinderCloseErrorTitle);
        }
        io.reset();
    }
    hide();
}

bool frmConnect::Connected(std::string& address) const {
    if (connected_)
        address = chosenAddress_;
    return connected_;
}

void frmConnect::ShowModal(QWidget* owner) {
    unloading_ = false;
    // Each showing starts without a pick: "Close" alone must not hand back
    // an instrument chosen in an earlier showing over a newly typed address.
    chosenAddress_.clear();
    connected_ = false;
    if (std::shared_ptr<SearchCriteria> criteria = discovery_->Criteria();
        criteria && criteria->IOObject)
        discovery_->Disconnect();  // leaves the search's own status line alone otherwise
    setParent(owner, Qt::Dialog);
    setModal(true);
    exec();
    setParent(nullptr, Qt::Dialog);  // the owner may go before this window does
}

void frmConnect::reject() {
    unloading_ = true;
    if (discovery_->Searching())
        discovery_->StopSearch();
    QDialog::reject();
}

void frmConnect::keyPressEvent(QKeyEvent* event) {
    if (!SwallowEscape(event))
        QDialog::keyPressEvent(event);
}

frmConnect& FinderWindow() {
    if (!finder.window)
        finder.window = std::make_unique<frmConnect>();
    return *finder.window;
}

void UnloadFinderWindow() {
    finder.Reset();
}

}  // namespace kestrel
