#include "frmSetup.h"

#include <commctrl.h>

#include <array>

#include "ControlIds.h"
#include "SetupWindow.h"
#include "UpdateRun.h"
#include "UserSettings.h"
#include "WindowTexts.h"
#include "frmConnect.h"
#include "modDialog.h"
#include "modGlobals.h"

namespace kestrel::win32 {
namespace {

thread_local bool setupShowing = false;

constexpr int kClientWidth = 5850, kClientHeight = 3720;
constexpr TwipRect kTabPlace{120, 120, 5565, 2895};

// A page's controls are designed from the tab control's corner.
constexpr TwipRect OnPage(TwipRect place) {
    return {kTabPlace.left + place.left, kTabPlace.top + place.top, place.width, place.height};
}

constexpr std::array<std::array<int, 5>, 3> kPages{{
    {kLabel1, kTxtAddress, kLabel2, kTxtInputFile, kChkChecking},
    {kLabel3, kTxtConnectAddress, kCmdConnect, 0, 0},
    {kLabel4, kTxtFindFile, kCmdFindFile, 0, 0},
}};

constexpr DWORD kEditStyle = WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kButtonStyle = WS_TABSTOP | BS_PUSHBUTTON;  // none is the default button

}  // namespace

frmSetup::~frmSetup() {
    SetWindowServices(nullptr);
    Destroy();
    if (pageBrush_ != nullptr)
        DeleteObject(pageBrush_);
}

bool frmSetup::Load() {
    if (!CreateTop(kSetupTitle, kClientWidth, kClientHeight, nullptr))
        return false;
    BuildControls();
    services_ = std::make_unique<Win32WindowServices>(Handle());
    SetWindowServices(services_.get());

    StrictChecking = 1;
    SendMessageA(Control(kChkChecking), BM_SETCHECK, BST_CHECKED, 0);
    Show(kTxtCurrentMsg, false);
    Show(kPbrUpdate, false);
    // Read once: a store that cannot be read leaves the designed texts, and
    // this window then never writes it.
    std::string problem;
    if (auto stored = ReadSettingsSection(kSettingsApplication, kSettingsSection, &problem)) {
        storeReadable_ = true;
        SetText(kTxtAddress, SettingOr(*stored, kAddressKey, kDefaultAddress));
        SetText(kTxtInputFile, SettingOr(*stored, kFileKey, kDefaultFile));
    } else {
        ShowMessageBox(Handle(), kSettingsUnreadableLead + problem + kSettingsUnreadableTail,
                       Buttons::kOk, Icon::kExclamation, kBoxTitle);
    }
    SetText(kTxtConnectAddress, TextOf(kTxtAddress));
    SetText(kTxtFindFile, TextOf(kTxtInputFile));
    return true;
}

void frmSetup::BuildControls() {
    HWND tab = AddControl(WC_TABCONTROLA, "", WS_TABSTOP | WS_CLIPSIBLINGS, kTabSetup, kTabPlace);
    const std::array<const char*, 3> pages{"Settings", "Connection", "Update File"};
    for (size_t i = 0; i < pages.size(); ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(pages[i]);
        SendMessageA(tab, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    }
    AddControl("STATIC", "Connection:", 0, kLabel1, OnPage({240, 480, 2295, 255}));
    AddControl("EDIT", "GPIB0::10", kEditStyle, kTxtAddress, OnPage({240, 840, 5055, 315}),
               WS_EX_CLIENTEDGE);
    AddControl("STATIC", "Input File:", 0, kLabel2, OnPage({240, 1320, 3735, 255}));
    AddControl("EDIT", ".\\Tools\\VKR470_104.INI", kEditStyle, kTxtInputFile,
               OnPage({240, 1680, 5055, 285}), WS_EX_CLIENTEDGE);
    AddControl("BUTTON", "Strict Checking (Slower)", WS_TABSTOP | BS_AUTOCHECKBOX, kChkChecking,
               OnPage({240, 2280, 4935, 255}));
    AddControl("STATIC", "KR470A Address", 0, kLabel3, OnPage({240, 600, 1935, 255}));
    AddControl("EDIT", "GPIB0::10", kEditStyle, kTxtConnectAddress, OnPage({240, 960, 5055, 285}),
               WS_EX_CLIENTEDGE);
    AddControl("BUTTON", "Connect to KR470A", kButtonStyle, kCmdConnect,
               OnPage({240, 1440, 2295, 375}));
    AddControl("STATIC", "Firmware Update File", 0, kLabel4, OnPage({240, 600, 2295, 255}));
    AddControl("EDIT", "VKR470_140.INI", kEditStyle, kTxtFindFile, OnPage({240, 960, 5055, 285}),
               WS_EX_CLIENTEDGE);
    AddControl("BUTTON", "Find Update File", kButtonStyle, kCmdFindFile,
               OnPage({240, 1440, 2295, 375}));
    AddControl("BUTTON", "Description", kButtonStyle, kCmdDescription, {120, 3240, 1335, 375});
    AddControl("BUTTON", "Update", kButtonStyle, kCmdOK, {3480, 3240, 975, 375});
    AddControl("BUTTON", "Cancel", kButtonStyle, kCmdCancel, {4680, 3240, 975, 375});
    HWND bar = AddControl(PROGRESS_CLASSA, "", 0, kPbrUpdate, {120, 3240, 5655, 255});
    SendMessageA(bar, PBM_SETRANGE32, 0, 100);
    AddControl("LISTBOX", "", WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT,
               kTxtCurrentMsg, {120, 120, 5535, 2790}, WS_EX_CLIENTEDGE);
    // The pages' controls paint over the tab control, not under it.
    SetWindowPos(tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ShowPage(0);
    TakePageColour();
}

// The page's controls are the window's children, not the tab control's: they
// are given the colour the tab control paints its page with (plain or
// themed), read from a drawing of it near its lower right corner, which no
// control covers.
void frmSetup::TakePageColour() {
    HWND tab = Control(kTabSetup);
    RECT area;
    GetClientRect(tab, &area);
    HDC screen = GetDC(tab);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, area.right, area.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    FillRect(memory, &area, GetSysColorBrush(COLOR_BTNFACE));
    SendMessageA(tab, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
                 PRF_CLIENT | PRF_ERASEBKGND);
    const COLORREF colour = GetPixel(memory, area.right - Twips(120), area.bottom - Twips(120));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(tab, screen);
    pageBrush_ = CreateSolidBrush(colour == CLR_INVALID ? GetSysColor(COLOR_BTNFACE) : colour);
}

std::vector<int> frmSetup::TabOrder() const {
    // Labels and the progress bar take no focus; the rest in the designed order.
    return {kTabSetup,    kTxtAddress,        kTxtInputFile,   kCmdOK,
            kCmdCancel,   kTxtConnectAddress, kCmdConnect,     kTxtFindFile,
            kCmdFindFile, kTxtCurrentMsg,     kCmdDescription, kChkChecking};
}

void frmSetup::ShowPage(int page) {
    for (size_t i = 0; i < kPages.size(); ++i) {
        for (int id : kPages[i]) {
            if (id != 0)
                Show(id, static_cast<int>(i) == page);
        }
    }
}

void frmSetup::ShowModal() {
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
    SetFocus(Control(kTabSetup));
    RunModal([this] { return unloaded_; });
    if (!unloaded_)
        Unload();  // the host's thread is ending: the settings are still stored
}

// Form unload: stores the settings, whichever way the window closes.
void frmSetup::Unload() {
    if (unloaded_)
        return;
    if (storeReadable_) {
        SaveSetting(kSettingsApplication, kSettingsSection, kAddressKey, TextOf(kTxtAddress));
        SaveSetting(kSettingsApplication, kSettingsSection, kFileKey, TextOf(kTxtInputFile));
    }
    unloaded_ = true;
    Destroy();
}

LRESULT frmSetup::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == static_cast<UINT_PTR>(kTabSetup) && header->code == TCN_SELCHANGE)
                ShowPage(static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
            return 0;
        }
        case WM_CTLCOLORSTATIC:
            if (pageBrush_ != nullptr && IsWindowVisible(Control(kTabSetup))) {
                LOGBRUSH page;
                GetObject(pageBrush_, sizeof(page), &page);
                SetBkColor(reinterpret_cast<HDC>(wParam), page.lbColor);
                return reinterpret_cast<LRESULT>(pageBrush_);
            }
            break;
        case WM_CLOSE:
            // While the update runs the window cannot be closed: the download
            // must not go on unseen. It closes by itself when the update returns.
            if (!updating_)
                Unload();
            return 0;
        default:
            break;
    }
    return TopWindow::OnMessage(message, wParam, lParam);
}

void frmSetup::OnCommand(int id, int code) {
    if (code != BN_CLICKED)
        return;
    switch (id) {
        case kCmdConnect:
            ConnectToInstrument();
            break;
        case kCmdFindFile:
            FindUpdateFile();
            break;
        case kCmdDescription:
            ShowDescription(TextOf(kTxtInputFile));
            break;
        case kCmdOK:
            Update();
            break;
        case kCmdCancel:
            Unload();
            break;
        default:
            break;
    }
}

void frmSetup::ReportError(const std::string& description) {
    ShowMessageBox(Handle(), description, Buttons::kOk, Icon::kCritical, kBoxTitle);
}

bool frmSetup::Checked() const {
    return SendMessageA(Control(kChkChecking), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void frmSetup::ConnectToInstrument() {
    try {
        frmConnect& finder = FinderWindow();
        finder.ShowModal(Handle());
        std::string address;
        if (finder.Connected(address)) {
            SetText(kTxtConnectAddress, address);
            SetText(kTxtAddress, address);
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
        EnableWindow(Handle(), FALSE);  // the settings face waits behind the dialog
        std::string path = PickUpdateFile(cancelled);
        EnableWindow(Handle(), TRUE);
        SetForegroundWindow(Handle());
        if (!cancelled) {
            SetText(kTxtFindFile, path);
            SetText(kTxtInputFile, path);
        }
    } catch (const std::exception& error) {
        EnableWindow(Handle(), TRUE);
        ReportError(error.what());
    }
}

void frmSetup::ShowProgressFace() {
    Show(kTabSetup, false);
    ShowPage(-1);  // the pages' controls go with the tab control
    Show(kCmdCancel, false);
    Show(kCmdOK, false);
    Show(kChkChecking, false);
    Show(kCmdDescription, false);
    Show(kTxtCurrentMsg, true);
    EnableWindow(Control(kTxtCurrentMsg), TRUE);
    Show(kPbrUpdate, true);
}

void frmSetup::Update() {
    updating_ = true;
    try {
        StrictChecking = Checked() ? 1 : 0;
        ShowProgressFace();
        PumpPending();
        ListBoxMessages messages(Control(kTxtCurrentMsg));
        Win32ProgressBar progress(Control(kPbrUpdate));
        RunUpdate(TextOf(kTxtAddress), TextOf(kTxtInputFile), progress, messages);
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
    updating_ = false;
    Unload();
}

}  // namespace kestrel::win32

namespace kestrel {

bool ShowSetupWindow() {
    if (win32::setupShowing)
        return false;
    win32::setupShowing = true;
    bool shown = false;
    {
        win32::frmSetup window;
        if (window.Load()) {
            shown = true;
            window.ShowModal();
        }
    }
    // The finder goes with the window that showed it: no window of this
    // library outlives the call (the library may be unloaded after it).
    win32::UnloadFinderWindow();
    win32::setupShowing = false;
    return shown;
}

}  // namespace kestrel
