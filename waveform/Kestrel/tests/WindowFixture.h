// What every window test needs: a temporary settings folder and I/O
// configuration, message boxes answered (and recorded) through the hook the
// windows use, no real waits, and ways to reach a modal window while it shows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "QtWindowServices.h"
#include "ScopedEnv.h"
#include "SettingsStore.h"
#include "TempFile.h"
#include "modDialog.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace kestrel::testing {

class WindowTest : public ::testing::Test {
  protected:
    WindowTest() {
        SetSettingsFolder(dir_.Path().string());
        SetWaitHook([this](int32_t ms) { waits_.push_back(ms); });
        SetMessageBoxHook([this](const MessageBoxRequest& box) {
            boxes_.push_back(box);
            if (onBox_)
                onBox_(box);
            if (answers_.empty())
                return Answer::kOk;
            Answer next = answers_.front();
            answers_.pop_front();
            return next;
        });
    }
    ~WindowTest() override {
        SetSettingsFolder("");
        SetWaitHook({});
        SetMessageBoxHook({});
        SetFileChooser({});
    }

    // Runs `action` on the window named `name` once the event loop of the
    // modal showing that follows has started.
    static void WhenShown(const char* name, std::function<void(QWidget*)> action) {
        QTimer::singleShot(0, [name, action = std::move(action)] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->objectName() == name && widget->isVisible()) {
                    action(widget);
                    return;
                }
            }
            ADD_FAILURE() << name << " is not showing";
        });
    }

    template <typename Widget>
    static Widget* Child(QWidget* window, const char* name) {
        Widget* child = window->findChild<Widget*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const MessageBoxRequest& box : boxes_)
            texts.push_back(box.text);
        return texts;
    }
    std::string Stored(const std::string& key) const {
        return GetSetting(kSettingsApplication, kSettingsSection, key, "<absent>")
            .value_or("<unreadable>");
    }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv kioConfig_{"KIO_CONFIG", (dir_.Path() / "kio.ini").string()};
    std::vector<int32_t> waits_;
    std::vector<MessageBoxRequest> boxes_;
    std::deque<Answer> answers_;
    std::function<void(const MessageBoxRequest&)> onBox_;
};

}  // namespace kestrel::testing
