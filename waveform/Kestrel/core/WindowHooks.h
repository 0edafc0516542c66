// What the update routines need of the window, kept narrow so that the
// routines run without a display: the message list, the progress bar, message
// boxes and letting the window breathe.
#pragma once

#include <string>

namespace kestrel {

enum class Buttons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class Icon { kNone, kCritical, kQuestion, kExclamation, kInformation };
enum class Answer { kOk, kCancel, kYes, kNo };

class MessageList {
  public:
    virtual ~MessageList() = default;
    virtual void AddLine(const std::string& text) = 0;
    virtual void Redraw() = 0;
};

class ProgressBar {
  public:
    virtual ~ProgressBar() = default;
    virtual void SetMinimum(int value) = 0;
    virtual void SetMaximum(int value) = 0;
    virtual int Maximum() const = 0;
    // A position above the maximum is shown as the maximum.
    virtual void SetValue(int value) = 0;
};

class WindowServices {
  public:
    virtual ~WindowServices() = default;
    virtual Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                               const std::string& title) = 0;
    // Processes the window messages that are pending.
    virtual void Breathe() = 0;
};

}  // namespace kestrel
