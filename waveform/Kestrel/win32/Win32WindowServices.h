// The window side of the update routines' hooks on Windows: the system's
// message boxes, letting the window breathe, a message list over a list box
// and a progress bar over the common control's progress bar.
#pragma once

#include <windows.h>

#include <string>

#include "WindowHooks.h"

namespace kestrel::win32 {

// A modal system box over `owner` (none: over the thread's active window),
// with the title and text exactly as given; the button pressed.
Answer ShowMessageBox(HWND owner, const std::string& text, Buttons buttons, Icon icon,
                      const std::string& title);

class Win32WindowServices : public WindowServices {
  public:
    explicit Win32WindowServices(HWND owner) : owner_(owner) {}
    Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                       const std::string& title) override {
        return ShowMessageBox(owner_, text, buttons, icon, title);
    }
    void Breathe() override;

  private:
    HWND owner_;
};

// One list entry a line: a message of several lines takes several entries.
// The list scrolls sideways as far as its longest line needs.
class ListBoxMessages : public MessageList {
  public:
    explicit ListBoxMessages(HWND list) : list_(list) {}
    void AddLine(const std::string& text) override;
    void Redraw() override;

  private:
    void AddEntry(const std::string& line);
    HWND list_;
    int widest_ = 0;
};

class Win32ProgressBar : public ProgressBar {
  public:
    explicit Win32ProgressBar(HWND bar) : bar_(bar) {}
    void SetMinimum(int value) override;
    void SetMaximum(int value) override;
    int Maximum() const override;
    void SetValue(int value) override;

  private:
    int Minimum() const;
    HWND bar_;
};

// The flags MessageBoxA takes for the buttons and icon, and what its result means.
UINT MessageBoxStyle(Buttons buttons, Icon icon);
Answer AnswerOf(int result);

}  // namespace kestrel::win32
