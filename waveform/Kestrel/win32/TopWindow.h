// A top-level window made in code, and the modal loop the plug-in's windows
// run on the host's thread. Its controls are its direct children, found by
// their ids (ControlIds.h); design sizes are in twips. Keyboard use is the
// window's own: Tab and Shift+Tab move through its tab order, Escape does
// nothing, Enter goes to the window (OnReturn) first, and every other key
// goes to the control that has the focus.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrel::win32 {

struct TwipRect {
    int left, top, width, height;
};

// Twips at the screen's logical dots per inch: 15 to a pixel at 96.
int Twips(int twips);

LRESULT CALLBACK TopWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
bool HandleKeys(const MSG& msg);

class TopWindow {
  public:
    TopWindow() = default;
    virtual ~TopWindow();
    TopWindow(const TopWindow&) = delete;
    TopWindow& operator=(const TopWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    HWND Control(int id) const { return GetDlgItem(hwnd_, id); }

    // The window's text and controls' texts, as 8-bit strings.
    std::string TextOf(int id) const;
    void SetText(int id, const std::string& text) const;
    void Show(int id, bool visible) const;

    // Ids in the order Tab moves through them; hidden and disabled ones are passed over.
    virtual std::vector<int> TabOrder() const = 0;

  protected:
    // Makes the (hidden) window with a client area of the given twips.
    bool CreateTop(const char* title, int widthTwips, int heightTwips, HMENU menu);
    HWND AddControl(const char* windowClass, const char* text, DWORD style, int id, TwipRect place,
                    DWORD exStyle = 0);
    void Destroy();

    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnCommand(int /*id*/, int /*code*/) {}
    // Enter pressed in `focus`; true when the window took it.
    virtual bool OnReturn(HWND /*focus*/) { return false; }

  private:
    friend LRESULT CALLBACK TopWindowProc(HWND, UINT, WPARAM, LPARAM);
    friend bool HandleKeys(const MSG& msg);
    void MoveFocus(bool backwards) const;

    HWND hwnd_ = nullptr;
};

// Runs the thread's messages until `ended` is true; a quit message ends the
// loop too and is posted again for the host's own loop.
template <typename Ended>
void RunModal(Ended ended);
bool PumpMessage(bool wait);  // false on a quit message (posted again)
// Processes the messages that are pending.
void PumpPending();

template <typename Ended>
void RunModal(Ended ended) {
    while (!ended()) {
        if (!PumpMessage(true))
            return;
    }
}

// The module the windows' code lives in (Kestrel.dll inside a host).
HINSTANCE ThisModule();

}  // namespace kestrel::win32
