// The host's one window: the registered components, registering a library,
// creating "Kestrel.CWaveform", its identifier, and the button that calls
// getWaveform.
#pragma once

#include <QWidget>

#include "Activation.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace host {

class HostWindow : public QWidget {
  public:
    HostWindow();

    void RegisterLibrary(const QString& path);
    void ListComponents();
    bool CreateComponent(const QString& name);
    void CallGetWaveform();

  private:
    void Report(const QString& text);

    kcom::ComPtr<IDispatch> component_;
    QListWidget* components_;
    QLabel* componentId_;
    QPushButton* create_;
    QPushButton* getWaveform_;
    QLabel* status_;
};

}  // namespace host
