// Pictures of the Win32 windows, taken from inside the process: the setup
// window runs on the main thread as a host would show it, and a second
// thread operates it by control id, as a user would, saving each window as
// a bitmap (BMP) while it is on screen: the three pages, the finder after
// its search, and the progress face during an update of the given file on
// the given address, every box of which it answers with its first button.
//
//   kestrel-win32-screenshots ADDRESS FILE OUTFOLDER
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ControlIds.h"
#include "SetupWindow.h"

namespace {

using namespace kestrel::win32;
using std::chrono::milliseconds;

// Waits for `found` to give a window, up to about ten seconds.
template <typename Find>
HWND WaitFor(Find found) {
    for (int i = 0; i < 200; ++i) {
        if (HWND window = found())
            return window;
        std::this_thread::sleep_for(milliseconds(50));
    }
    return nullptr;
}

HWND Visible(const char* title) {
    HWND window = FindWindowA(nullptr, title);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// A message box (the system's dialog class) that is showing, if any.
HWND ShowingBox() {
    HWND box = nullptr;
    EnumWindows(
        [](HWND candidate, LPARAM found) -> BOOL {
            char name[16] = {};
            GetClassNameA(candidate, name, sizeof(name));
            if (std::string(name) != "#32770" || !IsWindowVisible(candidate))
                return TRUE;
            *reinterpret_cast<HWND*>(found) = candidate;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&box));
    return box;
}

// The window as the screen shows it, as a 24-bit bitmap file.
void Save(HWND window, const std::string& path) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::this_thread::sleep_for(milliseconds(300));
    RECT frame;
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> pixels(static_cast<size_t>(stride) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("saved %s\n", path.c_str());
    std::fflush(stdout);
}

void SelectPage(HWND setup, int page) {
    HWND tab = GetDlgItem(setup, kTabSetup);
    SendMessageA(tab, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    NMHDR change{tab, static_cast<UINT_PTR>(kTabSetup), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(setup, WM_NOTIFY, kTabSetup, reinterpret_cast<LPARAM>(&change));
}

std::string ItemText(HWND list, int row, int column) {
    char text[512] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

void Drive(const std::string& address, const std::string& file, const std::string& out) {
    HWND setup = WaitFor([] { return Visible(kSetupTitle); });
    if (setup == nullptr)
        return;
    SetDlgItemTextA(setup, kTxtAddress, address.c_str());
    SetDlgItemTextA(setup, kTxtInputFile, file.c_str());
    Save(setup, out + "/frmSetup-settings.bmp");
    SelectPage(setup, 1);
    SetDlgItemTextA(setup, kTxtConnectAddress, address.c_str());
    Save(setup, out + "/frmSetup-connection.bmp");
    SelectPage(setup, 2);
    SetDlgItemTextA(setup, kTxtFindFile, file.c_str());
    Save(setup, out + "/frmSetup-update-file.bmp");

    SelectPage(setup, 1);
    PostMessageA(GetDlgItem(setup, kCmdConnect), BM_CLICK, 0, 0);
    if (HWND finder = WaitFor([] { return Visible(kFinderTitle); })) {
        HWND list = GetDlgItem(finder, kLstInstruments);
        WaitFor([&]() -> HWND {
            const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
            for (int row = 0; row < rows; ++row) {
                if (ItemText(list, row, 3) == "asking...")
                    return nullptr;
            }
            return list;
        });
        Save(finder, out + "/frmConnect.bmp");
        PostMessageA(GetDlgItem(finder, kCmdClose), BM_CLICK, 0, 0);
        WaitFor([&]() -> HWND { return IsWindowVisible(finder) ? nullptr : setup; });
    }
    SelectPage(setup, 0);
    PostMessageA(GetDlgItem(setup, kCmdOK), BM_CLICK, 0, 0);
    // Each box answered with its first button (Yes or OK) until the window goes;
    // the progress face taken once the bar has moved.
    bool saved = false;
    while (IsWindow(setup)) {
        HWND bar = GetDlgItem(setup, kPbrUpdate);
        if (!saved && SendMessageA(bar, PBM_GETPOS, 0, 0) > 0 && ShowingBox() == nullptr) {
            Save(setup, out + "/frmSetup-progress.bmp");
            saved = true;
        }
        if (HWND box = ShowingBox()) {
            std::this_thread::sleep_for(milliseconds(200));
            HWND yes = GetDlgItem(box, IDYES);
            PostMessageA(yes != nullptr ? yes : GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            WaitFor([&]() -> HWND { return IsWindow(box) ? nullptr : setup; });
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kestrel-win32-screenshots ADDRESS FILE OUTFOLDER\n");
        return 2;
    }
    std::thread driver(Drive, std::string(argv[1]), std::string(argv[2]), std::string(argv[3]));
    const bool shown = kestrel::ShowSetupWindow();
    driver.join();
    return shown ? 0 : 1;
}
