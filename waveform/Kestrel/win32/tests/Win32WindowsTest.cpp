// Under Wine on a virtual display: the setup window and the finder operated
// from a second thread by control id, as the user would, while the test's
// main thread shows the setup window as a host does.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "ControlIds.h"
#include "SetupWindow.h"
#include "UserSettings.h"

namespace kestrel::win32 {
namespace {

using std::chrono::milliseconds;

constexpr const char* kPropertiesKey = "Software\\Velmora\\WaveBench\\Firmware Update\\Properties";

// Polls `done` for up to ten seconds (Wine on a busy machine is slow to
// deliver); false when it never held.
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(milliseconds(50));
    }
    return false;
}

HWND ShownWindow(const char* title) {
    HWND found = nullptr;
    Eventually([&] {
        found = FindWindowA(nullptr, title);
        return found != nullptr && IsWindowVisible(found);
    });
    return found;
}

std::string TextOf(HWND window, int id) {
    char text[256] = {};
    GetDlgItemTextA(window, id, text, sizeof(text));
    return text;
}

class SetupWindowTest : public testing::Test {
  protected:
    SetupWindowTest() : windowThread_(GetCurrentThreadId()) {
        RegDeleteTreeA(HKEY_CURRENT_USER, kPropertiesKey);
    }
    ~SetupWindowTest() override { RegDeleteTreeA(HKEY_CURRENT_USER, kPropertiesKey); }

    // Shows the window here while `user` operates it from a second thread.
    void ShowWhile(const std::function<void(HWND)>& user) {
        std::thread operating([&] {
            HWND setup = ShownWindow(kSetupTitle);
            ASSERT_NE(setup, nullptr);
            user(setup);
        });
        EXPECT_TRUE(ShowSetupWindow());
        operating.join();
    }
    HWND Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(windowThread_, &info);
        return info.hwndFocus;
    }
    void Press(WPARAM key) const {
        HWND focus = Focus();
        PostMessageA(focus, WM_KEYDOWN, key, 0);
        PostMessageA(focus, WM_KEYUP, key, 0);
    }
    std::string Stored(const char* name) const {
        return GetSetting(kSettingsApplication, kSettingsSection, name, "(absent)").value_or("");
    }

    DWORD windowThread_;
};

TEST_F(SetupWindowTest, TabFollowsTheDesignedOrderEscapeDoesNothingAndCancelStoresTheFields) {
    ShowWhile([&](HWND setup) {
        EXPECT_TRUE(Eventually([&] { return Focus() == GetDlgItem(setup, kTabSetup); }));
        EXPECT_EQ(TextOf(setup, kTxtAddress), "GPIB0::10");
        EXPECT_EQ(TextOf(setup, kTxtInputFile), "VKR470_104.INI");
        EXPECT_EQ(TextOf(setup, kTxtFindFile), "VKR470_104.INI");
        EXPECT_EQ(SendMessageA(GetDlgItem(setup, kChkChecking), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(setup, kTxtCurrentMsg)));
        // The settings page's controls, then the window's; the other pages'
        // controls are hidden and passed over.
        for (int id : {kTxtAddress, kTxtInputFile, kCmdOK, kCmdCancel, kCmdDescription,
                       kChkChecking, kTabSetup}) {
            Press(VK_TAB);
            EXPECT_TRUE(Eventually([&] { return GetDlgCtrlID(Focus()) == id; })) << id;
        }
        Press(VK_ESCAPE);
        SetDlgItemTextA(setup, kTxtInputFile, "C:\\typed\\KR470A_105.INI");
        SetDlgItemTextA(setup, kTxtConnectAddress, "ASRL9::INSTR");  // neither used nor stored
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_TRUE(IsWindowVisible(setup));  // Escape left it open
        PostMessageA(GetDlgItem(setup, kCmdCancel), BM_CLICK, 0, 0);
        EXPECT_TRUE(Eventually([&] { return !IsWindow(setup); }));
    });
    EXPECT_EQ(Stored("INIFile"), "C:\\typed\\KR470A_105.INI");
    EXPECT_EQ(Stored("IOAddress"), "GPIB0::10");
}

TEST_F(SetupWindowTest, TheFinderHandsBackTheInstrumentConnectedToAndItsCloseBoxNothing) {
    ShowWhile([&](HWND setup) {
        PostMessageA(GetDlgItem(setup, kCmdConnect), BM_CLICK, 0, 0);
        HWND finder = ShownWindow(kFinderTitle);
        ASSERT_NE(finder, nullptr);
        EXPECT_FALSE(IsWindowEnabled(setup));  // modal over the setup window
        PostMessageA(finder, WM_CLOSE, 0, 0);  // the close box: no address taken
        EXPECT_TRUE(Eventually([&] { return !IsWindow(finder) && IsWindowEnabled(setup); }));
        EXPECT_EQ(TextOf(setup, kTxtAddress), "GPIB0::10");

        PostMessageA(GetDlgItem(setup, kCmdConnect), BM_CLICK, 0, 0);
        finder = ShownWindow(kFinderTitle);
        ASSERT_NE(finder, nullptr);
        // Nothing listens there: the row is added and asked, and may be picked.
        SetDlgItemTextA(finder, kTxtProbeAddress, "TCPIP0::127.0.0.1::1::SOCKET");
        PostMessageA(GetDlgItem(finder, kCmdAdd), BM_CLICK, 0, 0);
        HWND connect = GetDlgItem(finder, kCmdConnectInstrument);
        EXPECT_TRUE(Eventually([&] { return IsWindowEnabled(connect) != FALSE; }));
        PostMessageA(connect, BM_CLICK, 0, 0);
        EXPECT_TRUE(
            Eventually([&] { return IsWindowEnabled(GetDlgItem(finder, kCmdDisconnect)); }));
        PostMessageA(GetDlgItem(finder, kCmdClose), BM_CLICK, 0, 0);
        EXPECT_TRUE(Eventually([&] { return !IsWindowVisible(finder) && IsWindowEnabled(setup); }));
        EXPECT_EQ(TextOf(setup, kTxtAddress), "TCPIP0::127.0.0.1::1::SOCKET");
        EXPECT_EQ(TextOf(setup, kTxtConnectAddress), "TCPIP0::127.0.0.1::1::SOCKET");
        PostMessageA(setup, WM_CLOSE, 0, 0);  // the close box stores too
        EXPECT_TRUE(Eventually([&] { return !IsWindow(setup); }));
    });
    EXPECT_EQ(Stored("IOAddress"), "TCPIP0::127.0.0.1::1::SOCKET");
}

}  // namespace
}  // namespace kestrel::win32
