#include "TopWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

namespace kestrel::win32 {
namespace {

constexpr const char* kWindowClass = "KestrelTopWindow";

thread_local std::vector<TopWindow*> liveWindows;

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// Registered once a process; a second registration of the same module finds
// it already there, with the same window procedure.
bool RegisterWindowClass() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                                            ICC_LISTVIEW_CLASSES |
                                                            ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = TopWindowProc;
        windowClass.hInstance = ThisModule();
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

TopWindow* OwnerOf(HWND hwnd) {
    HWND root = GetAncestor(hwnd, GA_ROOT);
    for (TopWindow* window : liveWindows) {
        if (window->Handle() == root)
            return window;
    }
    return nullptr;
}

}  // namespace

int Twips(int twips) {
    static const int dpi = ScreenDpi();
    return static_cast<int>(std::lround(twips / 15.0 * dpi / 96.0));
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

LRESULT CALLBACK TopWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window =
            static_cast<TopWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<TopWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (window == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        window->hwnd_ = nullptr;
        std::erase(liveWindows, window);
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return window->OnMessage(message, wParam, lParam);
}

TopWindow::~TopWindow() {
    Destroy();
}

void TopWindow::Destroy() {
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
}

bool TopWindow::CreateTop(const char* title, int widthTwips, int heightTwips, HMENU menu) {
    if (!RegisterWindowClass())
        return false;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    RECT frame{0, 0, Twips(widthTwips), Twips(heightTwips)};
    AdjustWindowRectEx(&frame, style, menu != nullptr, WS_EX_DLGMODALFRAME);
    CreateWindowExA(WS_EX_DLGMODALFRAME, kWindowClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.right - frame.left, frame.bottom - frame.top, nullptr, menu, ThisModule(),
                    this);
    if (hwnd_ == nullptr)
        return false;
    liveWindows.push_back(this);
    // Focus rectangles and keyboard cues shown from the start.
    SendMessageA(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL),
                 0);
    return true;
}

HWND TopWindow::AddControl(const char* windowClass, const char* text, DWORD style, int id,
                           TwipRect place, DWORD exStyle) {
    HWND control = CreateWindowExA(
        exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, Twips(place.left),
        Twips(place.top), Twips(place.width), Twips(place.height), hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    return control;
}

std::string TopWindow::TextOf(int id) const {
    HWND control = Control(id);
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    const int got = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

void TopWindow::SetText(int id, const std::string& text) const {
    SetWindowTextA(Control(id), text.c_str());
}

void TopWindow::Show(int id, bool visible) const {
    ShowWindow(Control(id), visible ? SW_SHOW : SW_HIDE);
}

LRESULT TopWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && lParam != 0) {
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

void TopWindow::MoveFocus(bool backwards) const {
    std::vector<int> order = TabOrder();
    if (backwards)
        std::reverse(order.begin(), order.end());
    const HWND focus = GetFocus();
    auto current = std::find_if(order.begin(), order.end(), [&](int id) {
        return Control(id) == focus || IsChild(Control(id), focus);
    });
    for (size_t step = 1; step <= order.size(); ++step) {
        const size_t from = current == order.end() ? order.size() - 1
                                                   : static_cast<size_t>(current - order.begin());
        HWND next = Control(order[(from + step) % order.size()]);
        if (next != nullptr && IsWindowVisible(next) && IsWindowEnabled(next)) {
            SetFocus(next);
            return;
        }
    }
}

// Tab and Escape in the plug-in's windows; true when the key was taken.
bool HandleKeys(const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_CHAR)
        return false;
    TopWindow* window = OwnerOf(msg.hwnd);
    if (window == nullptr)
        return false;
    if (msg.wParam == VK_TAB) {
        if (msg.message == WM_KEYDOWN)
            window->MoveFocus(GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    if (msg.wParam == VK_RETURN && window->OnReturn(msg.hwnd))
        return true;
    return msg.wParam == VK_ESCAPE;  // no button is the windows' cancel button
}

bool PumpMessage(bool wait) {
    MSG msg;
    if (wait) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1)
            return false;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // the host's loop ends too
            return false;
        }
    } else if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return true;
    }
    if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (!HandleKeys(msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

void PumpPending() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT || !PumpMessage(false))
            return;
    }
}

}  // namespace kestrel::win32
