#include "Win32WindowServices.h"

#include <commctrl.h>

#include <algorithm>

#include "TopWindow.h"

namespace kestrel::win32 {

UINT MessageBoxStyle(Buttons buttons, Icon icon) {
    UINT style = MB_OK;
    switch (buttons) {
        case Buttons::kOkCancel:
            style = MB_OKCANCEL;
            break;
        case Buttons::kYesNo:
            style = MB_YESNO;  // no Cancel: Escape and the close box do nothing
            break;
        case Buttons::kYesNoCancel:
            style = MB_YESNOCANCEL;
            break;
        case Buttons::kOk:
            break;
    }
    switch (icon) {
        case Icon::kCritical:
            return style | MB_ICONERROR;
        case Icon::kQuestion:
            return style | MB_ICONQUESTION;
        case Icon::kExclamation:
            return style | MB_ICONWARNING;
        case Icon::kInformation:
            return style | MB_ICONINFORMATION;
        case Icon::kNone:
            break;
    }
    return style;
}

Answer AnswerOf(int result) {
    switch (result) {
        case IDYES:
            return Answer::kYes;
        case IDNO:
            return Answer::kNo;
        case IDCANCEL:
            return Answer::kCancel;
        default:
            return Answer::kOk;
    }
}

Answer ShowMessageBox(HWND owner, const std::string& text, Buttons buttons, Icon icon,
                      const std::string& title) {
    HWND parent = owner != nullptr ? owner : GetActiveWindow();
    UINT style = MessageBoxStyle(buttons, icon) | MB_SETFOREGROUND;
    if (parent == nullptr)
        style |= MB_TASKMODAL;  // still modal to the thread's windows
    return AnswerOf(MessageBoxA(parent, text.c_str(), title.c_str(), style));
}

void Win32WindowServices::Breathe() {
    PumpPending();
}

void ListBoxMessages::AddLine(const std::string& text) {
    size_t start = 0;
    while (true) {
        const size_t end = text.find_first_of("\r\n", start);
        const std::string line = text.substr(start, end - start);
        AddEntry(line);
        if (end == std::string::npos)
            return;
        start = text.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
    }
}

void ListBoxMessages::AddEntry(const std::string& line) {
    SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    HDC dc = GetDC(list_);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list_, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(list_, dc);
    if (size.cx + 8 > widest_) {
        widest_ = size.cx + 8;
        SendMessageA(list_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest_), 0);
    }
}

void ListBoxMessages::Redraw() {
    const LRESULT count = SendMessageA(list_, LB_GETCOUNT, 0, 0);
    if (count > 0)
        SendMessageA(list_, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    UpdateWindow(list_);
}

void Win32ProgressBar::SetMinimum(int value) {
    SendMessageA(bar_, PBM_SETRANGE32, static_cast<WPARAM>(value), Maximum());
}

void Win32ProgressBar::SetMaximum(int value) {
    SendMessageA(bar_, PBM_SETRANGE32, static_cast<WPARAM>(Minimum()), value);
}

int Win32ProgressBar::Minimum() const {
    return static_cast<int>(SendMessageA(bar_, PBM_GETRANGE, TRUE, 0));
}

int Win32ProgressBar::Maximum() const {
    return static_cast<int>(SendMessageA(bar_, PBM_GETRANGE, FALSE, 0));
}

void Win32ProgressBar::SetValue(int value) {
    const int shown = std::clamp(value, Minimum(), std::max(Minimum(), Maximum()));
    SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
}

}  // namespace kestrel::win32
