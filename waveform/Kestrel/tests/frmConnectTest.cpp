// The instrument finder and its discovery control.
#include "frmConnect.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTextLayout>
#include <QToolTip>
#include <QTreeWidget>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>

#include "Fakes.h"
#include "ProbePool.h"
#include "Process.h"
#include "RuntimeError.h"
#include "VlmDiscovery.h"
#include "WindowFixture.h"

namespace kestrel {
namespace {

using testing::WindowTest;
using testsupport::Simulator;

// An I/O factory whose openings wait at a gate until `together` of them are
// under way at once (then each fails with "together") or until the test
// opens it (then with "alone"). Nothing here waits longer than 10 s.
class GateFactory : public IOFactory {
  public:
    explicit GateFactory(int together) : together_(together) {}

    std::unique_ptr<InstrumentIO> OpenInstrument(const std::string& address) override {
        return OpenInstrumentWithin(address, -1);
    }
    std::unique_ptr<InstrumentIO> OpenInstrumentWithin(const std::string&,
                                                       int32_t timeoutMs) override {
        std::unique_lock lock(mutex_);
        ++started_;
        timeouts_.push_back(timeoutMs);
        changed_.notify_all();
        const bool met = changed_.wait_for(lock, std::chrono::seconds(10),
                                           [this] { return open_ || started_ >= together_; });
        const bool together = met && !open_;
        ++finished_;
        changed_.notify_all();
        throw RuntimeError(440, together ? "together" : "alone");
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool WaitForStarted(int count) {
        return WaitFor([&] { return started_ >= count; });
    }
    bool WaitForFinished(int count) {
        return WaitFor([&] { return finished_ >= count; });
    }
    int Finished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }
    std::vector<int32_t> Timeouts() {
        std::lock_guard lock(mutex_);
        return timeouts_;
    }

  private:
    template <typename Predicate>
    bool WaitFor(Predicate predicate) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), predicate);
    }
    const int together_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int started_ = 0, finished_ = 0;
    std::vector<int32_t> timeouts_;
};

// Every opening answers "*IDN?" with the same reply.
class AnsweringFactory : public IOFactory {
  public:
    explicit AnsweringFactory(std::string reply) : reply_(std::move(reply)) {}
    std::unique_ptr<InstrumentIO> OpenInstrument(const std::string&) override {
        auto io = std::make_unique<testing::ScriptedIO>();
        io->responder = [reply = reply_](const std::string&) { return reply; };
        return io;
    }

  private:
    std::string reply_;
};

// An instrument behind an address, as a recording factory plays it.
// kNoThread: opening fails as a connection whose watcher thread cannot be made.
enum class Behaviour { kAnswers, kSilent, kGone, kNoThread };

// Opens anything; each opening is recorded, with the reply time-out its
// probe set. An address answers "*IDN?" with `reply`, times out, or fails as
// a controller that is gone does. With `held`, the first opening waits until
// Release() (at most 10 s).
class RecordingFactory : public IOFactory {
  public:
    explicit RecordingFactory(std::map<std::string, Behaviour> behaviours = {}, bool held = false)
        : behaviours_(std::move(behaviours)), held_(held) {}

    std::unique_ptr<InstrumentIO> OpenInstrument(const std::string& address) override {
        std::unique_lock lock(mutex_);
        opened_.push_back(address);
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !held_; });
        const auto found = behaviours_.find(address);
        const Behaviour behaviour = found == behaviours_.end() ? Behaviour::kSilent : found->second;
        if (behaviour == Behaviour::kGone)
            throw RuntimeError(440, "the GPIB controller does not answer");
        if (behaviour == Behaviour::kNoThread)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "thread");
        auto io = std::make_unique<Probed>(*this, behaviour);
        return io;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    bool WaitForOpened(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return opened_.size() >= count; });
    }
    std::vector<std::string> Opened() {
        std::lock_guard lock(mutex_);
        return opened_;
    }
    std::vector<int32_t> Timeouts() {
        std::lock_guard lock(mutex_);
        return timeouts_;
    }
    static constexpr const char* kReply = "Velmora,KR470A,SN470001,1.04-2.10-0.9";

  private:
    class Probed : public testing::ScriptedIO {
      public:
        Probed(RecordingFactory& factory, Behaviour behaviour)
            : factory_(factory), behaviour_(behaviour) {}
        std::string SendQuery(const std::string&) override {
            if (behaviour_ == Behaviour::kSilent)
                throw ReplyTimeout(440, "Timeout expired before operation completed");
            return kReply;
        }
        void SetTimeout(int32_t milliseconds) override {
            std::lock_guard lock(factory_.mutex_);
            factory_.timeouts_.push_back(milliseconds);
        }

      private:
        RecordingFactory& factory_;
        Behaviour behaviour_;
    };
    std::map<std::string, Behaviour> behaviours_;
    bool held_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> opened_;
    std::vector<int32_t> timeouts_;
};

std::vector<std::string> Board(int first, int last) {
    std::vector<std::string> addresses;
    for (int address = first; address <= last; ++address)
        addresses.push_back("GPIB0::" + std::to_string(address) + "::INSTR");
    return addresses;
}

// The height of `text` laid out as the list lays out a wrapped cell.
int WrappedHeight(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(height));
}

// The process's address space, from /proc.
long AddressSpaceKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmSize:", 0) == 0)
            return std::stol(line.substr(7));
    }
    return -1;
}

class FrmConnectTest : public WindowTest {
  protected:
    ~FrmConnectTest() override {
        UnloadFinderWindow();
        VlmDiscovery::SetCandidateSource({});
        VlmDiscovery::SetFactoryMaker({});
    }
    static void UseFactory(std::shared_ptr<IOFactory> factory) {
        VlmDiscovery::SetFactoryMaker([factory] { return factory; });
    }
    void Candidates(std::vector<std::string> addresses) {
        VlmDiscovery::SetCandidateSource([addresses] { return SearchList{addresses, {}, {}}; });
    }
    void Lists(SearchList list) {
        VlmDiscovery::SetCandidateSource([list] { return list; });
    }
    static VlmDiscovery* DiscoveryOf(QWidget* finder) {
        return Child<VlmDiscovery>(finder, "VlmDiscovery");
    }
    static bool WaitForSearch(VlmDiscovery* discovery) {
        return QTest::qWaitFor([&] { return !discovery->Searching(); }, 10000);
    }
    static QString Cell(VlmDiscovery* discovery, int row, int column) {
        return Child<QTreeWidget>(discovery, "lstInstruments")->topLevelItem(row)->text(column);
    }
    std::string StartSimulator() {
        simulator_ =
            std::make_unique<Simulator>(std::vector<std::string>{SIMULATOR_PATH, "--tcp", "0"});
        return "TCPIP0::127.0.0.1::" + simulator_->FirstLine().substr(4) + "::SOCKET";
    }
    std::unique_ptr<Simulator> simulator_;
};

TEST_F(FrmConnectTest, LoadHandsTheControlItsCriteriaAfterHalfASecond) {
    Candidates({});
    frmConnect& finder = FinderWindow();
    EXPECT_EQ(finder.windowTitle(), "Find Velmora KR470A");
    EXPECT_EQ(Child<QPushButton>(&finder, "cmdClose")->text(), "Close");
    QMenu* junk = Child<QMenu>(&finder, "mnuJunk");
    EXPECT_EQ(junk->title(), "Junk");
    ASSERT_EQ(junk->actions().size(), 1);
    EXPECT_EQ(junk->actions()[0]->text(), "Help");

    VlmDiscovery* discovery = DiscoveryOf(&finder);
    std::shared_ptr<SearchCriteria> criteria = discovery->Criteria();
    ASSERT_TRUE(criteria);
    EXPECT_EQ(criteria->InstrumentCodeName, "Tessera");
    EXPECT_EQ(criteria->ModelList->Entries(),
              (std::vector<std::pair<std::string, std::string>>{{"KR470A", "KR470A"}}));
    EXPECT_EQ(criteria->SecondList->Count(), 0u);
    EXPECT_EQ(criteria->IOObject, nullptr);
    EXPECT_TRUE(discovery->SearchOnCriteria());
    EXPECT_TRUE(discovery->ConnectButtonsVisible());
    EXPECT_TRUE(discovery->SupportInstrumentsLabelVisible());
    EXPECT_EQ(waits_, std::vector<int32_t>{500});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    std::string address = "unchanged";
    EXPECT_FALSE(finder.Connected(address));
    EXPECT_EQ(address, "unchanged");
}

TEST_F(FrmConnectTest, DiscoveryAsksEachCandidateAndTheListSurvivesHiding) {
    const std::string instrument = StartSimulator();
    const std::string nobody = "TCPIP0::127.0.0.1::1::SOCKET";
    Candidates({instrument, nobody});
    frmConnect& finder = FinderWindow();
    VlmDiscovery* discovery = DiscoveryOf(&finder);
    ASSERT_TRUE(WaitForSearch(discovery));
    EXPECT_EQ(Cell(discovery, 0, VlmDiscovery::kModel), "KR470A");
    EXPECT_EQ(Cell(discovery, 0, VlmDiscovery::kSupported), "yes");
    EXPECT_EQ(Cell(discovery, 0, VlmDiscovery::kReply), "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_EQ(Cell(discovery, 1, VlmDiscovery::kSupported), "");
    EXPECT_FALSE(Cell(discovery, 1, VlmDiscovery::kReply).isEmpty());

    WhenShown("frmConnect", [&](QWidget* window) {
        auto* list = Child<QTreeWidget>(window, "lstInstruments");
        list->setCurrentItem(list->topLevelItem(0));
        Child<QPushButton>(window, "cmdConnectInstrument")->click();
        EXPECT_EQ(DiscoveryOf(window)->Criteria()->IOObject->GetAddress(), instrument);
        Child<QPushButton>(window, "cmdClose")->click();
    });
    finder.ShowModal(nullptr);
    EXPECT_FALSE(finder.isVisible());
    EXPECT_FALSE(finder.Unloading());
    std::string address;
    EXPECT_TRUE(finder.Connected(address));
    EXPECT_EQ(address, instrument);

    // Shown again: the same window, its list as it was left, but no pick:
    // "Close" alone does not hand back the earlier instrument.
    WhenShown("frmConnect", [&](QWidget* window) {
        EXPECT_EQ(Cell(DiscoveryOf(window), 0, VlmDiscovery::kModel), "KR470A");
        EXPECT_EQ(DiscoveryOf(window)->Criteria()->IOObject, nullptr);
        EXPECT_FALSE(Child<QPushButton>(window, "cmdDisconnect")->isEnabled());
        Child<QPushButton>(window, "cmdClose")->click();
    });
    FinderWindow().ShowModal(nullptr);
    EXPECT_EQ(&FinderWindow(), &finder);
    address = "typed";
    EXPECT_FALSE(finder.Connected(address));
    EXPECT_EQ(address, "typed");
    EXPECT_EQ(waits_.size(), 1u);  // no second load
}

TEST_F(FrmConnectTest, ConnectNeedsASelectedRowAndTakesThatRow) {
    auto factory = std::make_shared<GateFactory>(0);
    UseFactory(factory);
    Candidates({"ASRL/dev/ttyS0::INSTR", "TCPIP0::127.0.0.1::1::SOCKET"});
    frmConnect& finder = FinderWindow();
    VlmDiscovery* discovery = DiscoveryOf(&finder);
    ASSERT_TRUE(WaitForSearch(discovery));
    auto* list = Child<QTreeWidget>(discovery, "lstInstruments");
    auto* connect = Child<QPushButton>(discovery, "cmdConnectInstrument");
    // What focus does to an empty selection: the first row current, unselected.
    list->setCurrentItem(list->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    EXPECT_FALSE(connect->isEnabled());
    EXPECT_FALSE(discovery->ConnectSelected());
    EXPECT_EQ(discovery->Criteria()->IOObject, nullptr);

    list->topLevelItem(1)->setSelected(true);
    EXPECT_TRUE(connect->isEnabled());
    connect->click();
    ASSERT_NE(discovery->Criteria()->IOObject, nullptr);
    EXPECT_EQ(discovery->Criteria()->IOObject->GetAddress(), "TCPIP0::127.0.0.1::1::SOCKET");
}

TEST_F(FrmConnectTest, EscapeNeitherHidesNorUnloadsTheFinder) {
    Candidates({});
    frmConnect& finder = FinderWindow();
    WhenShown("frmConnect", [&](QWidget* window) {
        QTest::keyClick(window, Qt::Key_Escape);
        QTest::keyClick(Child<QLineEdit>(window, "txtProbeAddress"), Qt::Key_Escape);
        EXPECT_TRUE(window->isVisible());
        Child<QPushButton>(window, "cmdClose")->click();
    });
    finder.ShowModal(nullptr);
    EXPECT_FALSE(finder.Unloading());
}

TEST_F(FrmConnectTest, ProbesRunTogetherWithinTheirTimeOutOnASmallPool) {
    // Five probes that each wait until all five are under way at once.
    auto factory = std::make_shared<GateFactory>(5);
    UseFactory(factory);
    std::vector<std::string> five;
    for (int i = 1; i <= 5; ++i)
        five.push_back("ASRL" + std::to_string(i) + "::INSTR");
    Candidates(five);
    VlmDiscovery* discovery = DiscoveryOf(&FinderWindow());
    ASSERT_TRUE(WaitForSearch(discovery));
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(Cell(discovery, row, VlmDiscovery::kReply), "together") << row;
    EXPECT_EQ(factory->Timeouts(), std::vector<int32_t>(5, VlmDiscovery::kProbeTimeoutMs));

    // Search after search, the process keeps the same few threads.
    factory->Open();
    const long before = AddressSpaceKb();
    for (int search = 0; search < 60; ++search) {
        discovery->Search();
        ASSERT_TRUE(WaitForSearch(discovery));
    }
    EXPECT_LE(ProbePool::Shared().Threads(), ProbePool::kWorkers);
    EXPECT_LT(AddressSpaceKb() - before, 256 * 1024);
}

TEST_F(FrmConnectTest, UnloadingMidSearchDoesNotWaitForTheProbes) {
    auto factory = std::make_shared<GateFactory>(2);  // never met: one candidate
    UseFactory(factory);
    Candidates({"ASRL1::INSTR"});
    FinderWindow();
    ASSERT_TRUE(factory->WaitForStarted(1));
    UnloadFinderWindow();
    EXPECT_EQ(factory->Finished(), 0);  // still under way, on the pool
    factory->Open();
    EXPECT_TRUE(factory->WaitForFinished(1));
}

TEST_F(FrmConnectTest, TheReplyColumnShowsWholeReplies) {
    const std::string reply =
        "Velmora,KR470A,SN470001,1.04-2.10-0.9,with a long tail the instrument adds to its "
        "identification reply";
    VlmDiscovery::SetFactoryMaker([reply] { return std::make_shared<AnsweringFactory>(reply); });
    Candidates({"ASRL/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0::INSTR"});
    frmConnect& finder = FinderWindow();
    finder.show();
    VlmDiscovery* discovery = DiscoveryOf(&finder);
    ASSERT_TRUE(WaitForSearch(discovery));
    auto* list = Child<QTreeWidget>(discovery, "lstInstruments");
    QCoreApplication::processEvents();
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    QTreeWidgetItem* item = list->topLevelItem(0);
    for (int column : {VlmDiscovery::kAddress, VlmDiscovery::kReply}) {
        EXPECT_EQ(item->toolTip(column), item->text(column));
        // The cell lies inside the view and is tall enough for its wrapped text.
        const QRect cell = list->visualRect(list->model()->index(0, column));
        EXPECT_LE(cell.right(), list->viewport()->width()) << column;
        EXPECT_LE(WrappedHeight(item->text(column), item->font(column), cell.width() - 2 * margin),
                  cell.height())
            << column;
    }
    // A short text keeps to one line: its column grows to it.
    const QRect model = list->visualRect(list->model()->index(0, VlmDiscovery::kModel));
    EXPECT_EQ(WrappedHeight("KR470A", item->font(VlmDiscovery::kModel), model.width() - 2 * margin),
              WrappedHeight("KR470A", item->font(VlmDiscovery::kModel), 1000));
    EXPECT_EQ(Cell(discovery, 0, VlmDiscovery::kReply).toStdString(), reply);
    finder.hide();
}

TEST_F(FrmConnectTest, CloseBoxEndsTheShowingWithoutTakingAnAddress) {
    Candidates({"TCPIP0::127.0.0.1::1::SOCKET"});
    frmConnect& finder = FinderWindow();
    WhenShown("frmConnect", [&](QWidget* window) {
        DiscoveryOf(window)->ConnectSelected();
        window->close();
    });
    finder.ShowModal(nullptr);
    EXPECT_TRUE(finder.Unloading());
    std::string address;
    EXPECT_FALSE(finder.Connected(address));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(FrmConnectTest, CloseReportsEachFailingStepAndStillHides) {
    Candidates({});
    frmConnect& finder = FinderWindow();
    WhenShown("frmConnect", [&](QWidget* window) {
        DiscoveryOf(window)->SetCriteria(nullptr);
        Child<QPushButton>(window, "cmdClose")->click();
    });
    finder.ShowModal(nullptr);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].title, "Connection Close Error");
    EXPECT_EQ(boxes_[0].icon, Icon::kNone);
    EXPECT_FALSE(finder.isVisible());
    std::string address;
    EXPECT_FALSE(finder.Connected(address));
}

TEST_F(WindowTest, ASearchAsksTheConfiguredAddressesAndListsTheRealSerialPorts) {
    const std::filesystem::path dev = dir_.Path() / "dev", sys = dir_.Path() / "sys";
    std::filesystem::create_directories(dev / "serial/by-id");
    // The serial library's listing, as kr470-ports has it: ttys with a device
    // behind them, ttyS only with a UART fitted, ttyS2 before ttyS10.
    for (auto [name, type] :
         {std::pair{"ttyS0", "0"}, std::pair{"ttyS2", "4"}, std::pair{"ttyS10", "4"},
          std::pair{"ttyUSB0", ""}, std::pair{"ttyACM0", ""}}) {
        std::filesystem::create_directories(sys / "devices" / name);
        std::filesystem::create_directories(sys / "class/tty" / name);
        std::filesystem::create_directory_symlink(sys / "devices" / name,
                                                  sys / "class/tty" / name / "device");
        if (*type != '\0')
            std::ofstream(sys / "class/tty" / name / "type") << type << "\n";
        std::ofstream(dev / name).put('\n');
    }
    std::filesystem::create_directories(sys / "class/tty/tty1");  // a console: no device
    std::ofstream(dev / "null").put('\n');
    std::filesystem::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-A");
    std::ofstream(dir_.Path() / "kio.ini")
        << "[aliases]\ngpib0::10 = TCPIP0::127.0.0.1::5025::SOCKET\n[ASRL3]\ndevice = /dev/x\n";
    const std::string d = dev.string();
    // A search asks the configured ones and only lists the real ports present.
    SearchList list = FindSearchList(dev, sys);
    EXPECT_EQ(list.asked, (std::vector<std::string>{"GPIB0::10", "ASRL3::INSTR"}));
    EXPECT_EQ(list.listed, (std::vector<std::string>{
                               "ASRL" + d + "/ttyACM0::INSTR", "ASRL" + d + "/ttyS2::INSTR",
                               "ASRL" + d + "/ttyS10::INSTR", "ASRL" + d + "/ttyUSB0::INSTR",
                               "ASRL" + d + "/serial/by-id/usb-A::INSTR"}));
    EXPECT_TRUE(list.problems.empty());

    std::ofstream(dir_.Path() / "kio.ini", std::ios::app)
        << "[gpib1]\ncontroller = ASRL3::INSTR\nscan = 1-40\n";
    ::testing::internal::CaptureStderr();
    list = FindSearchList(dev, sys);
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(list.problems.size(), 1u);
    EXPECT_EQ(said, list.problems[0] + "\n");
    EXPECT_NE(list.problems[0].find("[GPIB1] scan: \"1-40\""), std::string::npos);
}

TEST_F(FrmConnectTest, ClosingTheFinderMidSearchStopsItsProbesAtTheirNextStep) {
    auto factory = std::make_shared<RecordingFactory>(std::map<std::string, Behaviour>{}, true);
    UseFactory(factory);
    Candidates(Board(1, 5));
    frmConnect& finder = FinderWindow();
    ASSERT_TRUE(factory->WaitForOpened(1));
    std::chrono::steady_clock::time_point clicked;
    WhenShown("frmConnect", [&](QWidget* window) {
        clicked = std::chrono::steady_clock::now();
        Child<QPushButton>(window, "cmdClose")->click();
    });
    finder.ShowModal(nullptr);
    // Measured, not asserted: closing does not wait for the probe under way.
    std::printf(
        "closing the finder mid-search: %.1f ms\n",
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - clicked)
            .count());
    EXPECT_FALSE(DiscoveryOf(&finder)->Searching());
    EXPECT_EQ(Cell(DiscoveryOf(&finder), 1, VlmDiscovery::kReply), "stopped");
    // The probe under way ends at its next step: once the finder is gone and
    // the probe has let go of the factory, nothing else was opened.
    UnloadFinderWindow();
    VlmDiscovery::SetFactoryMaker({});
    factory->Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return factory.use_count() == 1; }, 10000));
    EXPECT_EQ(factory->Opened(), std::vector<std::string>{"GPIB0::1::INSTR"});
}

TEST_F(FrmConnectTest, ABoardIsAskedInQuickRoundsAlongsideTheOtherBuses) {
    const std::string lan = "TCPIP0::127.0.0.1::5025::SOCKET";
    auto factory = std::make_shared<RecordingFactory>(std::map<std::string, Behaviour>{
        {"GPIB0::10::INSTR", Behaviour::kAnswers}, {lan, Behaviour::kAnswers}});
    UseFactory(factory);
    std::vector<std::string> candidates = Board(0, 30);
    candidates.push_back(lan);
    Candidates(candidates);
    VlmDiscovery* discovery = DiscoveryOf(&FinderWindow());
    ASSERT_TRUE(WaitForSearch(discovery));
    EXPECT_EQ(Cell(discovery, 10, VlmDiscovery::kSupported), "yes");
    EXPECT_EQ(Cell(discovery, 31, VlmDiscovery::kSupported), "yes");
    EXPECT_EQ(Cell(discovery, 30, VlmDiscovery::kReply),
              "Timeout expired before operation completed");
    // The board's 31 addresses one after another with the short time-out, the
    // socket on its own with the probe's.
    std::vector<std::string> opened = factory->Opened();
    std::erase(opened, lan);
    EXPECT_EQ(opened, Board(0, 30));
    std::vector<int32_t> timeouts = factory->Timeouts();
    EXPECT_EQ(std::count(timeouts.begin(), timeouts.end(), kGpibRoundTimeoutMs), 31);
    EXPECT_EQ(std::count(timeouts.begin(), timeouts.end(), VlmDiscovery::kProbeTimeoutMs), 1);
}

TEST_F(FrmConnectTest, ASearchAsksOnlyWhatIsConfiguredAndListsThePortsItFound) {
    auto factory = std::make_shared<RecordingFactory>();
    UseFactory(factory);
    Lists(SearchList{{"ASRL3::INSTR"},
                     {"ASRL/dev/ttyS0::INSTR", "ASRL/dev/ttyUSB0::INSTR"},
                     {"kio.ini: [GPIB0] scan: \"40\" is neither an address nor a range"}});
    frmConnect& finder = FinderWindow();
    VlmDiscovery* discovery = DiscoveryOf(&finder);
    ASSERT_TRUE(WaitForSearch(discovery));
    EXPECT_EQ(factory->Opened(), std::vector<std::string>{"ASRL3::INSTR"});
    EXPECT_TRUE(Cell(discovery, 1, VlmDiscovery::kReply).startsWith("not asked"));
    EXPECT_TRUE(Cell(discovery, 2, VlmDiscovery::kReply).startsWith("not asked"));
    // The bad scan list is said in the window, not only on stderr.
    auto* problems = Child<QLabel>(discovery, "lblProblems");
    EXPECT_FALSE(problems->isHidden());
    EXPECT_TRUE(problems->text().contains("scan: \"40\""));
    // A listed port, picked, is ready to be asked with Add.
    auto* list = Child<QTreeWidget>(discovery, "lstInstruments");
    list->topLevelItem(2)->setSelected(true);
    EXPECT_EQ(Child<QLineEdit>(discovery, "txtProbeAddress")->text(), "ASRL/dev/ttyUSB0::INSTR");
    Child<QPushButton>(discovery, "cmdAdd")->click();
    ASSERT_TRUE(WaitForSearch(discovery));
    EXPECT_EQ(factory->Opened().back(), "ASRL/dev/ttyUSB0::INSTR");

    // A new search replaces the rows, and a mended configuration clears the problem.
    Candidates(std::vector<std::string>{"ASRL4::INSTR"});
    discovery->Search();
    ASSERT_TRUE(WaitForSearch(discovery));
    EXPECT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(Cell(discovery, 0, VlmDiscovery::kAddress), "ASRL4::INSTR");
    EXPECT_TRUE(problems->isHidden());
}

TEST_F(FrmConnectTest, AHugeReplyIsShownAndTippedCutAndCopiedWhole) {
    const std::string reply = "Velmora,KR470A,SN470001," + std::string(1 << 20, 'x');
    VlmDiscovery::SetFactoryMaker([reply] { return std::make_shared<AnsweringFactory>(reply); });
    Candidates(std::vector<std::string>{"TCPIP0::127.0.0.1::5025::SOCKET"});
    frmConnect& finder = FinderWindow();
    finder.show();
    VlmDiscovery* discovery = DiscoveryOf(&finder);
    ASSERT_TRUE(WaitForSearch(discovery));
    QCoreApplication::processEvents();
    const QString shown = Cell(discovery, 0, VlmDiscovery::kReply);
    EXPECT_EQ(shown.size(), VlmDiscovery::kShownReplyCharacters);
    EXPECT_TRUE(shown.endsWith(QString::fromUtf8("\u2026")));
    EXPECT_TRUE(shown.startsWith("Velmora,KR470A,SN470001,xxx"));
    auto* list = Child<QTreeWidget>(discovery, "lstInstruments");
    // The tooltip: a screenful in lines, laid out as fast as a short one; the
    // whole reply is one Copy away.
    const QString tooltip = list->topLevelItem(0)->toolTip(VlmDiscovery::kReply);
    EXPECT_TRUE(tooltip.startsWith(QString::fromStdString(reply.substr(0, 100)) + "\n"));
    EXPECT_TRUE(tooltip.endsWith("(4000 of " + QString::number(reply.size()) +
                                 " characters; Ctrl+C copies the whole reply)"));
    const auto before = std::chrono::steady_clock::now();
    QToolTip::showText(QPoint(10, 10), tooltip, list);
    QCoreApplication::processEvents();
    std::printf("the tooltip of a 1 MiB reply showed in %.1f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before)
                    .count());
    QToolTip::hideText();
    list->topLevelItem(0)->setSelected(true);
    list->setFocus();
    QTest::keySequence(list, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), reply);
    EXPECT_EQ(Cell(discovery, 0, VlmDiscovery::kSupported), "yes");
    // A reply that fits is shown whole.
    EXPECT_EQ(VlmDiscovery::ShownReply("short"), "short");
    finder.hide();
}

TEST_F(FrmConnectTest, TheFinderGrowsWithItsListAsFarAsTheScreenAllows) {
    VlmDiscovery::SetFactoryMaker(
        [] { return std::make_shared<AnsweringFactory>(RecordingFactory::kReply); });
    std::vector<std::string> many;
    for (int i = 1; i <= 8; ++i)
        many.push_back("ASRL" + std::to_string(i) + "::INSTR");
    Candidates(many);
    frmConnect& finder = FinderWindow();
    finder.show();
    const int designed = finder.minimumHeight();
    VlmDiscovery* discovery = DiscoveryOf(&finder);
    ASSERT_TRUE(WaitForSearch(discovery));
    QCoreApplication::processEvents();
    EXPECT_NE(finder.minimumSize(), finder.maximumSize());  // not a fixed size
    EXPECT_GT(finder.height(), designed);
    auto* list = Child<QTreeWidget>(discovery, "lstInstruments");
    const QRect last = list->visualItemRect(list->topLevelItem(7));
    EXPECT_LE(last.bottom(), list->viewport()->height());  // every row shows
    auto* close = Child<QPushButton>(&finder, "cmdClose");
    EXPECT_LE(close->geometry().bottom(), finder.height());
    EXPECT_GE(close->geometry().top(), discovery->geometry().bottom());

    // Many more rows than fit: as tall as the screen's free area, no taller.
    for (int i = 9; i <= 60; ++i)
        many.push_back("ASRL" + std::to_string(i) + "::INSTR");
    Candidates(many);
    discovery->Search();
    ASSERT_TRUE(WaitForSearch(discovery));
    QCoreApplication::processEvents();
    EXPECT_LE(finder.frameGeometry().height(), finder.screen()->availableGeometry().height());
    finder.hide();
}

// A character outside the basic plane is two UTF-16 units: a cut never
// leaves half of one, in the Reply column or in a line of its tooltip.
TEST(ShownReply, ACutNeverSplitsACharacterInTwo) {
    auto wholeEverywhere = [](const QString& text) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text.at(i).isHighSurrogate() &&
                (i + 1 == text.size() || !text.at(i + 1).isLowSurrogate()))
                return false;
            if (text.at(i).isLowSurrogate() && (i == 0 || !text.at(i - 1).isHighSurrogate()))
                return false;
        }
        return true;
    };
    const QString clef = QString::fromUtf8("\U0001D11E");  // two units
    QString reply;
    for (int i = 0; i < 3000; ++i)
        reply += (i % 3 == 0 ? QString("x") : clef);
    // Units 0..498 are kept; with a pair across 497/498, its first half would be.
    const QString atTheCut = QString(VlmDiscovery::kShownReplyCharacters - 2, 'x') + clef + "tail";
    for (const QString& text : {reply, reply.mid(1), atTheCut}) {
        EXPECT_TRUE(wholeEverywhere(VlmDiscovery::ShownReply(text)));
        for (const QString& line : VlmDiscovery::ReplyTooltip(text).split('\n'))
            EXPECT_TRUE(wholeEverywhere(line));
    }
}

TEST(ProbeJobs, OneJobForEachGpibBoardAndOneForEveryOtherAddress) {
    const std::vector<std::string> addresses = {"GPIB0::1::INSTR", "TCPIP0::h::5025::SOCKET",
                                                "GPIB1::4::INSTR", "gpib0::2::INSTR",
                                                "GPIB::3",         "ASRL1::INSTR",
                                                "GPIBX::5"};
    EXPECT_EQ(ProbeJobs(addresses),
              (std::vector<std::vector<size_t>>{{0, 3, 4}, {1}, {2}, {5}, {6}}));
}

TEST(ProbeInTurn, AControllerThatIsGoneEndsTheRoundsAtItsFirstAddress) {
    RecordingFactory gone({{"GPIB0::1::INSTR", Behaviour::kGone}});
    std::vector<std::pair<size_t, ProbeResult>> reported;
    ProbeInTurn(
        gone, Board(1, 30), 1500, nullptr, {},
        [&](size_t index, const ProbeResult& result) { reported.emplace_back(index, result); });
    EXPECT_EQ(gone.Opened(), std::vector<std::string>{"GPIB0::1::INSTR"});
    ASSERT_EQ(reported.size(), 30u);
    EXPECT_EQ(reported[0].second.error, "the GPIB controller does not answer");
    EXPECT_EQ(reported[29].first, 29u);
    EXPECT_EQ(reported[29].second.error, "not asked: GPIB0::1::INSTR failed");

    // Asked no more once the search no longer wants answers.
    RecordingFactory silent;
    int answered = 0;
    ProbeInTurn(
        silent, Board(1, 30), 1500, nullptr, [&] { return silent.Opened().size() < 3; },
        [&](size_t, const ProbeResult&) { ++answered; });
    EXPECT_EQ(silent.Opened().size(), 3u);
    EXPECT_EQ(answered, 2);  // the third was opened when the search went: not asked
}

// A probe runs on a thread of the host's process: whatever fails there is that
// address's answer, never an exception that ends the host.
TEST(ProbeInTurn, AnOpeningThatFailsOutsideTheToolkitsErrorsIsThatAddresssAnswer) {
    RecordingFactory noThread(
        {{"GPIB0::1::INSTR", Behaviour::kNoThread}, {"TCPIP0::h::INSTR", Behaviour::kNoThread}});
    ProbeResult alone;
    EXPECT_NO_THROW(alone = ProbeInstrument(noThread, "TCPIP0::h::INSTR", 1500, nullptr));
    EXPECT_NE(alone.error.find("thread"), std::string::npos) << alone.error;
    std::vector<std::pair<size_t, ProbeResult>> reported;
    EXPECT_NO_THROW(ProbeInTurn(
        noThread, Board(1, 3), 1500, nullptr, {},
        [&](size_t index, const ProbeResult& result) { reported.emplace_back(index, result); }));
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_NE(reported[0].second.error.find("thread"), std::string::npos);
    EXPECT_EQ(reported[2].second.error, "not asked: GPIB0::1::INSTR failed");
}

TEST(KeyedCollection, AKeyIsTakenOnceIgnoringCase) {
    KeyedCollection models;
    models.Add("KR470A", "KR470A");
    try {
        models.Add("other", "kr470a");
        ADD_FAILURE() << "a second KR470A key was taken";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), 457);
    }
    EXPECT_TRUE(models.Contains("KR470A"));
    EXPECT_FALSE(models.Contains("kr470a"));
}

}  // namespace
}  // namespace kestrel
