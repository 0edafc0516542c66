// The Linux plug-in's run of an end-to-end case, the reference the Windows
// driver's run is compared with: the Qt setup window, headless, filled in and
// its "Update" pressed as a user would, each message box answered from the
// script through the hook the window tests use, and recorded as the driver
// records it. Exit status 0 when every box got its scripted answer.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "UpdateCase.h"
#include "frmSetup.h"

namespace {

using kestrel::e2e::BoxAnswerer;
using kestrel::e2e::CaseOptions;
using kestrel::e2e::Reply;

std::vector<Reply> Offered(kestrel::Buttons buttons) {
    switch (buttons) {
        case kestrel::Buttons::kOk:
            return {Reply::kOk};
        case kestrel::Buttons::kOkCancel:
            return {Reply::kOk, Reply::kCancel};
        case kestrel::Buttons::kYesNo:
            return {Reply::kYes, Reply::kNo};
        case kestrel::Buttons::kYesNoCancel:
            return {Reply::kYes, Reply::kNo, Reply::kCancel};
    }
    return {Reply::kOk};
}

kestrel::Answer AnswerOf(Reply reply) {
    switch (reply) {
        case Reply::kOk:
            return kestrel::Answer::kOk;
        case Reply::kCancel:
            return kestrel::Answer::kCancel;
        case Reply::kYes:
            return kestrel::Answer::kYes;
        case Reply::kNo:
            return kestrel::Answer::kNo;
    }
    return kestrel::Answer::kOk;
}

QWidget* ShowingSetupWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "frmSetup" && widget->isVisible())
            return widget;
    }
    return nullptr;
}

// Types the case into the window and presses "Update"; false when a control is missing.
bool StartUpdate(QWidget* window, const CaseOptions& options) {
    auto* address = window->findChild<QLineEdit*>("txtAddress");
    auto* file = window->findChild<QLineEdit*>("txtInputFile");
    auto* strict = window->findChild<QCheckBox*>("chkChecking");
    auto* update = window->findChild<QPushButton*>("cmdOK");
    if (address == nullptr || file == nullptr || strict == nullptr || update == nullptr)
        return false;
    address->setText(QString::fromStdString(options.address));
    file->setText(QString::fromStdString(options.file));
    strict->setChecked(options.strict);
    update->click();  // returns when the update has ended and the window closed
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::string error;
    std::optional<CaseOptions> options =
        kestrel::e2e::ParseCaseOptions({argv + 1, static_cast<size_t>(argc - 1)}, error);
    if (!options) {
        std::fprintf(stderr, "kestrel-e2e-reference: %s\n%s", error.c_str(),
                     kestrel::e2e::kCaseUsage);
        return 2;
    }
    BoxAnswerer answerer(options->answers, options->boxes);
    if (!answerer.RecordOpen()) {
        std::fprintf(stderr, "kestrel-e2e-reference: cannot write %s\n", options->boxes.c_str());
        return 2;
    }
    kestrel::SetMessageBoxHook([&](const kestrel::MessageBoxRequest& box) {
        std::vector<Reply> offered = Offered(box.buttons);
        return AnswerOf(answerer.Answer(box.title, box.text, offered));
    });
    bool operated = false;
    QTimer::singleShot(0, [&] {
        QWidget* window = ShowingSetupWindow();
        operated = window != nullptr && StartUpdate(window, *options);
        if (!operated && window != nullptr)
            window->close();
    });
    if (!kestrel::ShowSetupWindow(nullptr) || !operated) {
        std::fprintf(stderr, "kestrel-e2e-reference: the setup window did not show its controls\n");
        return 1;
    }
    kestrel::SetMessageBoxHook({});
    std::string failure = answerer.Failure();
    if (!failure.empty()) {
        std::fprintf(stderr, "kestrel-e2e-reference: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}
