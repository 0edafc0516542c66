// The instrument finder and its discovery control.
#include "frmConnect.h"

#include <QApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "Process.h"
#include "RuntimeError.h"
#include "VlmDiscovery.h"
#include "WindowFixture.h"

namespace kestrel {
namespace {

using osprey::testing::Simulator;
using testing::WindowTest;

class FrmConnectTest : public WindowTest {
  protected:
    ~FrmConnectTest() override {
        UnloadFinderWindow();
        VlmDiscovery::SetCandidateSource({});
    }
    void Candidates(std::vector<std::string> addresses) {
        VlmDiscovery::SetCandidateSource([addresses] { return addresses; });
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

TEST_F(FrmConnectTest, DiscoveryAsksEachCandidateAndAPickSurvivesHiding) {
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

    // Shown again: the same window, its control as it was left.
    WhenShown("frmConnect", [&](QWidget* window) {
        EXPECT_EQ(Cell(DiscoveryOf(window), 0, VlmDiscovery::kModel), "KR470A");
        Child<QPushButton>(window, "cmdClose")->click();
    });
    FinderWindow().ShowModal(nullptr);
    EXPECT_EQ(&FinderWindow(), &finder);
    EXPECT_TRUE(finder.Connected(address));
    EXPECT_EQ(waits_.size(), 1u);  // no second load
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

TEST_F(WindowTest, CandidatesAreRealSerialPortsThenConfiguredAddresses) {
    const std::filesystem::path dev = dir_.Path() / "dev", sys = dir_.Path() / "sys";
    std::filesystem::create_directories(dev / "serial/by-id");
    for (const char* name : {"ttyS0", "ttyS1", "ttyUSB0", "ttyACM0", "null", "serial/by-id/usb-A"})
        std::ofstream(dev / name).put('\n');
    for (auto [name, type] : {std::pair{"ttyS0", "0"}, std::pair{"ttyS1", "4"}}) {
        std::filesystem::create_directories(sys / name);
        std::ofstream(sys / name / "type") << type << "\n";
    }
    std::ofstream(dir_.Path() / "kio.ini")
        << "[aliases]\ngpib0::10 = TCPIP0::127.0.0.1::5025::SOCKET\n[ASRL3]\ndevice = /dev/x\n";
    const std::string d = dev.string();
    EXPECT_EQ(
        CandidateAddresses(dev, sys),
        (std::vector<std::string>{"ASRL" + d + "/serial/by-id/usb-A::INSTR",
                                  "ASRL" + d + "/ttyACM0::INSTR", "ASRL" + d + "/ttyS1::INSTR",
                                  "ASRL" + d + "/ttyUSB0::INSTR", "GPIB0::10", "ASRL3::INSTR"}));
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
