// The setup and progress window, driven headless by object name.
#include "frmSetup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "Process.h"
#include "UpdateFileBuilder.h"
#include "VlmDiscovery.h"
#include "WindowFixture.h"
#include "frmConnect.h"

namespace kestrel {
namespace {

using testing::WindowTest;
using testsupport::Simulator;

class FrmSetupTest : public WindowTest {
  protected:
    ~FrmSetupTest() override { UnloadFinderWindow(); }

    // Shows the window; `drive` acts on it while it is showing.
    void Open(std::function<void(QWidget*)> drive) {
        WhenShown("frmSetup", std::move(drive));
        ASSERT_TRUE(ShowSetupWindow(nullptr));
    }
    static QLineEdit* Box(QWidget* w, const char* name) { return Child<QLineEdit>(w, name); }
    static void Click(QWidget* w, const char* name) { Child<QPushButton>(w, name)->click(); }

    // Starts the simulator on TCP and routes the window's default address to it.
    void StartSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {SIMULATOR_PATH, "--tcp", "0"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        simulator_ = std::make_unique<Simulator>(argv);
        std::ofstream(dir_.Path() / "kio.ini")
            << "[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::" << simulator_->FirstLine().substr(4)
            << "::SOCKET\n";
    }
    std::string WriteUpdateFile() {
        kr470::UpdateFileInput input;
        input.records = kr470::GenerateImage(150 * 32, 3, "KR470A 1.05");
        input.name = "KR470A Firmware 1.05";
        input.revision = "1.05";
        return dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input));
    }

    std::unique_ptr<Simulator> simulator_;
};

TEST_F(FrmSetupTest, FirstUseShowsTheDesignedWindowWithTheDefaults) {
    Open([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Velmora KR470A Firmware Update");
        EXPECT_EQ(Box(w, "txtAddress")->text(), "GPIB0::10");
        EXPECT_EQ(Box(w, "txtInputFile")->text(), "VKR470_104.INI");
        EXPECT_EQ(Box(w, "txtConnectAddress")->text(), "GPIB0::10");
        EXPECT_EQ(Box(w, "txtFindFile")->text(), "VKR470_104.INI");
        EXPECT_TRUE(Child<QCheckBox>(w, "chkChecking")->isChecked());
        EXPECT_EQ(Child<QCheckBox>(w, "chkChecking")->text(), "Strict Checking (Slower)");
        EXPECT_EQ(StrictChecking, 1);
        EXPECT_FALSE(Child<QListWidget>(w, "txtCurrentMsg")->isVisible());
        EXPECT_FALSE(Child<QProgressBar>(w, "pbrUpdate")->isVisible());
        auto* tabs = Child<QTabWidget>(w, "tabSetup");
        ASSERT_EQ(tabs->count(), 3);
        EXPECT_EQ(tabs->tabText(0), "Settings");
        EXPECT_EQ(tabs->tabText(1), "Connection");
        EXPECT_EQ(tabs->tabText(2), "Update File");
        for (QPushButton* button : w->findChildren<QPushButton*>()) {
            EXPECT_FALSE(button->isDefault() || button->autoDefault())
                << button->objectName().toStdString();
        }
        if (w->logicalDpiX() == 96) {  // 15 twips to a pixel
            EXPECT_EQ(w->size(), QSize(390, 248));
            EXPECT_EQ(Child<QPushButton>(w, "cmdOK")->geometry(), QRect(232, 216, 65, 25));
            EXPECT_EQ(tabs->geometry(), QRect(8, 8, 371, 193));
            // Page controls are placed from the tab control's corner.
            QLineEdit* address = Box(w, "txtAddress");
            EXPECT_EQ(address->mapTo(tabs, QPoint(0, 0)), QPoint(16, 56));
            EXPECT_EQ(address->size(), QSize(337, 21));
        }
        // Tab order over the controls that take focus.
        std::vector<std::string> order;
        QWidget* next = tabs;
        do {
            static const QRegularExpression designed("^(tab|txt|cmd|chk|pbr|Label)");
            if ((next->focusPolicy() & Qt::TabFocus) &&
                designed.match(next->objectName()).hasMatch())
                order.push_back(next->objectName().toStdString());
            next = next->nextInFocusChain();
        } while (next != tabs && order.size() < 40);
        EXPECT_EQ(order, (std::vector<std::string>{
                             "tabSetup", "txtAddress", "txtInputFile", "cmdOK", "cmdCancel",
                             "txtConnectAddress", "cmdConnect", "txtFindFile", "cmdFindFile",
                             "txtCurrentMsg", "cmdDescription", "chkChecking"}));
        Click(w, "cmdCancel");
    });
    EXPECT_EQ(Stored("IOAddress"), "GPIB0::10");
    EXPECT_EQ(Stored("INIFile"), "VKR470_104.INI");
}

TEST_F(FrmSetupTest, TypedValuesAreStoredOnCancelButOnlyTheSettingsPageCounts) {
    Open([&](QWidget* w) {
        Box(w, "txtInputFile")->setText("/srv/fw/KR470A_106.INI");
        Box(w, "txtAddress")->setText("ASRL3::INSTR");
        Box(w, "txtConnectAddress")->setText("GPIB1::4");
        Child<QCheckBox>(w, "chkChecking")->setChecked(false);
        Click(w, "cmdCancel");
    });
    Open([&](QWidget* w) {
        EXPECT_EQ(Box(w, "txtInputFile")->text(), "/srv/fw/KR470A_106.INI");
        EXPECT_EQ(Box(w, "txtFindFile")->text(), "/srv/fw/KR470A_106.INI");
        EXPECT_EQ(Box(w, "txtConnectAddress")->text(), "ASRL3::INSTR");
        EXPECT_TRUE(Child<QCheckBox>(w, "chkChecking")->isChecked());
        w->close();  // the close box stores too
    });
    EXPECT_EQ(Stored("IOAddress"), "ASRL3::INSTR");
}

TEST_F(FrmSetupTest, UnreadableStoreLeavesTheDesignedTexts) {
    std::filesystem::create_directories(SettingsFilePath(kSettingsApplication));  // not a file
    Open([&](QWidget* w) {
        EXPECT_EQ(Box(w, "txtAddress")->text(), "GPIB0::10");
        EXPECT_EQ(Box(w, "txtInputFile")->text(), ".\\Tools\\VKR470_104.INI");
        EXPECT_EQ(Box(w, "txtFindFile")->text(), ".\\Tools\\VKR470_104.INI");
        Click(w, "cmdCancel");
    });
    EXPECT_TRUE(std::filesystem::is_directory(SettingsFilePath(kSettingsApplication)));
    // Said once, with why, rather than the user's changes silently dropped.
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text,
              "Settings cannot be saved: " + SettingsFilePath(kSettingsApplication) +
                  " is a directory, not a regular file.\r\nThe address and update "
                  "file shown are not the stored ones, and changes made here are "
                  "not kept.");
    EXPECT_EQ(boxes_[0].icon, Icon::kExclamation);
    EXPECT_EQ(boxes_[0].title, "Firmware Update");
}

TEST_F(FrmSetupTest, AStoreUnreadableAtLoadIsNeverWrittenByThatWindow) {
    const std::string path = SettingsFilePath(kSettingsApplication);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string garbled = "[Properties\nIOAddress=ASRL3::INSTR\nINIFile=/srv/a.ini\n";
    std::ofstream(path) << garbled;
    std::string pick = WriteUpdateFile();
    SetFileChooser([&](const FileDialogRequest&) { return pick; });
    auto contents = [&] {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (int showing = 0; showing < 2; ++showing) {  // each load decides afresh
        Open([&](QWidget* w) {
            EXPECT_EQ(Box(w, "txtAddress")->text(), "GPIB0::10");
            Click(w, "cmdFindFile");  // its folder is not stored either
            Click(w, "cmdCancel");
        });
        EXPECT_EQ(contents(), garbled);
        ASSERT_EQ(boxes_.size(), showing + 1u);
        EXPECT_NE(boxes_.back().text.find(path + ", line 1 is neither a [section] header"),
                  std::string::npos);
    }
    // Mended while the window shows: still not written by a window that loaded
    // without it, so the designed texts cannot replace what the user stored.
    const std::string mended = "[Properties]\nIOAddress=ASRL3::INSTR\n";
    Open([&](QWidget* w) {
        std::ofstream(path) << mended;
        Click(w, "cmdCancel");
    });
    EXPECT_EQ(contents(), mended);
    Open([&](QWidget* w) {
        EXPECT_EQ(Box(w, "txtAddress")->text(), "ASRL3::INSTR");
        Box(w, "txtAddress")->setText("GPIB0::4");
        Click(w, "cmdCancel");
    });
    EXPECT_EQ(Stored("IOAddress"), "GPIB0::4");
}

TEST_F(FrmSetupTest, PickedFileGoesIntoBothBoxesAndACancelChangesNothing) {
    std::string pick = WriteUpdateFile();
    std::vector<std::string> picks = {pick, ""};
    SetFileChooser([&](const FileDialogRequest&) {
        std::string next = picks.front();
        picks.erase(picks.begin());
        return next;
    });
    Open([&](QWidget* w) {
        Click(w, "cmdFindFile");
        EXPECT_EQ(Box(w, "txtInputFile")->text().toStdString(), pick);
        EXPECT_EQ(Box(w, "txtFindFile")->text().toStdString(), pick);
        Click(w, "cmdFindFile");
        EXPECT_EQ(Box(w, "txtInputFile")->text().toStdString(), pick);
        Click(w, "cmdCancel");
    });
    EXPECT_EQ(Stored("INIFile"), pick);
}

TEST_F(FrmSetupTest, FinderPickIsCopiedIntoBothAddressBoxesAndNoPickChangesNothing) {
    VlmDiscovery::SetCandidateSource([] { return SearchList{}; });
    Open([&](QWidget* w) {
        WhenShown("frmConnect", [](QWidget* finder) { Click(finder, "cmdClose"); });
        Click(w, "cmdConnect");
        EXPECT_EQ(Box(w, "txtAddress")->text(), "GPIB0::10");

        WhenShown("frmConnect", [](QWidget* finder) {
            auto* discovery = Child<VlmDiscovery>(finder, "VlmDiscovery");
            discovery->AddAddress("TCPIP0::127.0.0.1::1::SOCKET");
            EXPECT_TRUE(discovery->ConnectSelected());
            Click(finder, "cmdClose");
        });
        Click(w, "cmdConnect");
        EXPECT_EQ(Box(w, "txtAddress")->text(), "TCPIP0::127.0.0.1::1::SOCKET");
        EXPECT_EQ(Box(w, "txtConnectAddress")->text(), "TCPIP0::127.0.0.1::1::SOCKET");
        Click(w, "cmdCancel");
    });
    VlmDiscovery::SetCandidateSource({});
    EXPECT_EQ(Stored("IOAddress"), "TCPIP0::127.0.0.1::1::SOCKET");
}

TEST_F(FrmSetupTest, EachFinderShowingStartsWithoutAPick) {
    VlmDiscovery::SetCandidateSource([] { return SearchList{}; });
    const std::string picked = "TCPIP0::127.0.0.1::1::SOCKET";
    auto closeWithoutPick = [](QWidget* finder) { Click(finder, "cmdClose"); };
    Open([&](QWidget* w) {
        WhenShown("frmConnect", [&](QWidget* finder) {
            Child<VlmDiscovery>(finder, "VlmDiscovery")->AddAddress(picked);
            Click(finder, "cmdConnectInstrument");
            Click(finder, "cmdClose");
        });
        Click(w, "cmdConnect");
        EXPECT_EQ(Box(w, "txtAddress")->text().toStdString(), picked);
        Box(w, "txtAddress")->setText("ASRL1::INSTR");
        WhenShown("frmConnect", closeWithoutPick);
        Click(w, "cmdConnect");
        EXPECT_EQ(Box(w, "txtAddress")->text(), "ASRL1::INSTR");
        Box(w, "txtAddress")->setText("ASRL2::INSTR");
        Click(w, "cmdCancel");
    });
    // The next getWaveform: the finder is the same, the pick is not.
    Open([&](QWidget* w) {
        WhenShown("frmConnect", closeWithoutPick);
        Click(w, "cmdConnect");
        EXPECT_EQ(Box(w, "txtAddress")->text(), "ASRL2::INSTR");
        Click(w, "cmdCancel");
    });
    VlmDiscovery::SetCandidateSource({});
    EXPECT_EQ(Stored("IOAddress"), "ASRL2::INSTR");
}

TEST_F(FrmSetupTest, EscapeDoesNotCloseTheWindow) {
    bool escaped = false;
    Open([&](QWidget* w) {
        QTest::keyClick(w, Qt::Key_Escape);
        QTest::keyClick(Box(w, "txtAddress"), Qt::Key_Escape);
        escaped = w->isVisible();
        Click(w, "cmdCancel");
    });
    EXPECT_TRUE(escaped);
}

TEST_F(FrmSetupTest, ProgressLinesWrapInsteadOfScrollingSideways) {
    Open([&](QWidget* w) {
        auto* list = Child<QListWidget>(w, "txtCurrentMsg");
        Child<QTabWidget>(w, "tabSetup")->hide();
        list->show();
        ListWidgetMessages messages(list);
        const std::string line =
            "Update started!  Do not touch the front panel during this process!";
        messages.AddLine("KR470A Firmware 1.05");
        messages.AddLine(line);
        messages.Redraw();
        QCoreApplication::processEvents();
        QListWidgetItem* item = list->item(1);
        EXPECT_EQ(item->toolTip().toStdString(), line);
        const QRect rect = list->visualItemRect(item);
        EXPECT_LE(rect.right(), list->viewport()->width());
        EXPECT_GT(rect.height(), list->visualItemRect(list->item(0)).height());  // two lines
        EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
        Click(w, "cmdCancel");
    });
}

TEST_F(FrmSetupTest, UpdateRunsOnTheProgressFaceAndTheWindowCloses) {
    StartSimulator();
    const std::string path = WriteUpdateFile();
    bool checkedFace = false;
    onBox_ = [&](const MessageBoxRequest& box) {
        if (box.text.find("Do you want to continue") == std::string::npos)
            return;
        QWidget* w = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "frmSetup")
                w = top;
        ASSERT_NE(w, nullptr);
        EXPECT_FALSE(Child<QTabWidget>(w, "tabSetup")->isVisible());
        EXPECT_FALSE(Child<QPushButton>(w, "cmdOK")->isVisible());
        EXPECT_FALSE(Child<QPushButton>(w, "cmdCancel")->isVisible());
        EXPECT_FALSE(Child<QPushButton>(w, "cmdDescription")->isVisible());
        EXPECT_TRUE(Child<QListWidget>(w, "txtCurrentMsg")->isVisible());
        EXPECT_TRUE(Child<QListWidget>(w, "txtCurrentMsg")->isEnabled());
        EXPECT_TRUE(Child<QProgressBar>(w, "pbrUpdate")->isVisible());
        EXPECT_EQ(Child<QListWidget>(w, "txtCurrentMsg")->item(3)->text(), "Code section OK.");
        w->close();  // refused while the update runs
        EXPECT_TRUE(w->isVisible());
        checkedFace = true;
    };
    answers_ = {Answer::kYes};
    Open([&](QWidget* w) {
        Box(w, "txtInputFile")->setText(QString::fromStdString(path));
        Click(w, "cmdOK");
    });
    EXPECT_TRUE(checkedFace);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text.find("Firmware update completed successfully\r\n"), 0u);
    EXPECT_EQ(waits_, (std::vector<int32_t>{5000, 5000}));
    EXPECT_EQ(StrictChecking, 1);
    EXPECT_EQ(Stored("INIFile"), path);
}

TEST_F(FrmSetupTest, FailuresAreReportedAndTheWindowStillCloses) {
    StartSimulator({"--idn", "Velmora,KR480B,SN1,1.00-0-0"});
    const std::string path = WriteUpdateFile();
    Open([&](QWidget* w) {
        Box(w, "txtInputFile")->setText(QString::fromStdString(path));
        Child<QCheckBox>(w, "chkChecking")->setChecked(false);
        Click(w, "cmdOK");
    });
    EXPECT_EQ(StrictChecking, 0);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text.find("This firmware update is not intended"), 0u);
    EXPECT_EQ(boxes_[1].text, "Firmware update failed!");
    EXPECT_EQ(boxes_[1].icon, Icon::kCritical);
    EXPECT_EQ(boxes_[1].title, "Firmware Update");

    // An address that cannot be opened: its description, critical, then closed.
    boxes_.clear();
    Open([&](QWidget* w) {
        Box(w, "txtAddress")->setText("NOTANADDRESS");
        Click(w, "cmdOK");
    });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].text.find("NOTANADDRESS"), std::string::npos);
    EXPECT_EQ(boxes_[0].icon, Icon::kCritical);
    EXPECT_EQ(Stored("IOAddress"), "NOTANADDRESS");
}

TEST_F(FrmSetupTest, RealMessageBoxCarriesTextTitleIconAndButtons) {
    SetMessageBoxHook({});
    WhenShown("messageBox", [](QWidget* window) {
        auto* box = static_cast<QMessageBox*>(window);
        EXPECT_EQ(box->text(), "Continue with update? (Y/N)");
        EXPECT_EQ(box->windowTitle(), "Firmware Update - Version WARNING");
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(ShowMessageBox(nullptr, "Continue with update? (Y/N)", Buttons::kYesNo, Icon::kNone,
                             "Firmware Update - Version WARNING"),
              Answer::kNo);
}

TEST_F(FrmSetupTest, AYesNoBoxHasNoEscapeButton) {
    SetMessageBoxHook({});
    bool stayed = false;
    WhenShown("messageBox", [&](QWidget* window) {
        auto* box = static_cast<QMessageBox*>(window);
        QTest::keyClick(box, Qt::Key_Escape);
        box->close();
        stayed = box->isVisible();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(ShowMessageBox(nullptr, "Error occurred during upload.  Try again? (Y/N)",
                             Buttons::kYesNo, Icon::kNone, "Firmware Update"),
              Answer::kYes);
    EXPECT_TRUE(stayed);
    // An OK box still closes with Escape.
    WhenShown("messageBox", [](QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); });
    EXPECT_EQ(ShowMessageBox(nullptr, "Firmware update failed!", Buttons::kOk, Icon::kCritical,
                             "Firmware Update"),
              Answer::kOk);
}

}  // namespace
}  // namespace kestrel
