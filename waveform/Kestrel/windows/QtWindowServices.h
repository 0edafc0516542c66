// The window side of the update routines' hooks, over Qt Widgets: message
// boxes, letting the window breathe, a message list over a list widget and a
// progress bar over QProgressBar. Also the twips-to-pixels rule of the
// window layouts.
#pragma once

#include <functional>
#include <string>

#include "WindowHooks.h"

class QKeyEvent;
class QListWidget;
class QProgressBar;
class QWidget;

namespace kestrel {

struct MessageBoxRequest {
    std::string text;
    Buttons buttons;
    Icon icon;
    std::string title;
};

// Tests answer message boxes through this hook instead of a real box.
using MessageBoxHook = std::function<Answer(const MessageBoxRequest&)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Shows a modal box over `owner` (or the active window) and returns the button pressed.
Answer ShowMessageBox(QWidget* owner, const std::string& text, Buttons buttons, Icon icon,
                      const std::string& title);

class QtWindowServices : public WindowServices {
  public:
    explicit QtWindowServices(QWidget* owner) : owner_(owner) {}
    Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                       const std::string& title) override {
        return ShowMessageBox(owner_, text, buttons, icon, title);
    }
    void Breathe() override;

  private:
    QWidget* owner_;
};

class ListWidgetMessages : public MessageList {
  public:
    explicit ListWidgetMessages(QListWidget* list) : list_(list) {}
    void AddLine(const std::string& text) override;
    void Redraw() override;

  private:
    QListWidget* list_;
};

class QtProgressBar : public ProgressBar {
  public:
    explicit QtProgressBar(QProgressBar* bar) : bar_(bar) {}
    void SetMinimum(int value) override;
    void SetMaximum(int value) override;
    int Maximum() const override;
    void SetValue(int value) override;

  private:
    QProgressBar* bar_;
};

// Escape closes neither window: true (the key taken) when `event` is Escape.
bool SwallowEscape(QKeyEvent* event);

// Design sizes are in twips: 15 to a pixel at 96 dots per inch, scaled with
// the screen's logical dpi.
struct TwipRect {
    int left, top, width, height;
};
int Twips(const QWidget* widget, int twips);
void PlaceInTwips(QWidget* widget, TwipRect place);

}  // namespace kestrel
