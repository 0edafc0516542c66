#include "QtWindowServices.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <algorithm>
#include <cmath>
#include <memory>

namespace kestrel {
namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

QMessageBox::StandardButtons ButtonsOf(Buttons buttons) {
    switch (buttons) {
        case Buttons::kOkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::kYesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case Buttons::kYesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case Buttons::kOk:
            break;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(Icon icon) {
    switch (icon) {
        case Icon::kCritical:
            return QMessageBox::Critical;
        case Icon::kQuestion:
            return QMessageBox::Question;
        case Icon::kExclamation:
            return QMessageBox::Warning;
        case Icon::kInformation:
            return QMessageBox::Information;
        case Icon::kNone:
            break;
    }
    return QMessageBox::NoIcon;
}

// A Yes/No question has no escape button: Escape and the close box do
// nothing, so only a deliberate Yes or No answers it.
class QuestionBox : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!SwallowEscape(event))
            QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

Answer AnswerOf(int button) {
    switch (button) {
        case QMessageBox::Yes:
            return Answer::kYes;
        case QMessageBox::No:
            return Answer::kNo;
        case QMessageBox::Cancel:
            return Answer::kCancel;
        default:
            return Answer::kOk;
    }
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}

Answer ShowMessageBox(QWidget* owner, const std::string& text, Buttons buttons, Icon icon,
                      const std::string& title) {
    if (Hook())
        return Hook()({text, buttons, icon, title});
    QWidget* parent = owner != nullptr ? owner : QApplication::activeWindow();
    const QString caption = QString::fromStdString(title), body = QString::fromStdString(text);
    std::unique_ptr<QMessageBox> box =
        buttons == Buttons::kYesNo
            ? std::make_unique<QuestionBox>(IconOf(icon), caption, body, ButtonsOf(buttons), parent)
            : std::make_unique<QMessageBox>(IconOf(icon), caption, body, ButtonsOf(buttons),
                                            parent);
    box->setObjectName("messageBox");
    return AnswerOf(box->exec());
}

bool SwallowEscape(QKeyEvent* event) {
    if (!event->matches(QKeySequence::Cancel))
        return false;
    event->accept();
    return true;
}

void QtWindowServices::Breathe() {
    QCoreApplication::processEvents();
}

void ListWidgetMessages::AddLine(const std::string& text) {
    auto* item = new QListWidgetItem(QString::fromStdString(text), list_);
    item->setToolTip(item->text());  // the whole line, wherever it wraps
}

void ListWidgetMessages::Redraw() {
    list_->scrollToBottom();
    list_->repaint();
}

void QtProgressBar::SetMinimum(int value) {
    bar_->setMinimum(value);
}
void QtProgressBar::SetMaximum(int value) {
    bar_->setMaximum(value);
}
int QtProgressBar::Maximum() const {
    return bar_->maximum();
}
void QtProgressBar::SetValue(int value) {
    bar_->setValue(std::clamp(value, bar_->minimum(), bar_->maximum()));
}

int Twips(const QWidget* widget, int twips) {
    const double dpi = widget != nullptr ? widget->logicalDpiX() : 96.0;
    return static_cast<int>(std::lround(twips / 15.0 * dpi / 96.0));
}

void PlaceInTwips(QWidget* widget, TwipRect place) {
    widget->setGeometry(Twips(widget, place.left), Twips(widget, place.top),
                        Twips(widget, place.width), Twips(widget, place.height));
}

}  // namespace kestrel
