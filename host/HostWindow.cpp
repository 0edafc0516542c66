#include "HostWindow.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "Dispatch.h"
#include "Registry.h"

namespace host {

HostWindow::HostWindow() {
    setObjectName("hostWindow");
    setWindowTitle("Component host");
    components_ = new QListWidget(this);
    components_->setObjectName("lstComponents");
    auto* registerButton = new QPushButton("Register library...", this);
    create_ = new QPushButton("Create Kestrel.CWaveform", this);
    create_->setObjectName("cmdCreate");
    getWaveform_ = new QPushButton("getWaveform", this);
    getWaveform_->setObjectName("cmdGetWaveform");
    componentId_ = new QLabel("-", this);
    componentId_->setObjectName("lblComponentId");
    status_ = new QLabel(this);
    status_->setObjectName("lblStatus");
    status_->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(registerButton);
    buttons->addWidget(create_);
    buttons->addWidget(getWaveform_);
    auto* facts = new QFormLayout;
    facts->addRow("ComponentID:", componentId_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        "Registered components (" + QString::fromStdString(kcom::RegistryPath()) + "):", this));
    layout->addWidget(components_, 1);
    layout->addLayout(buttons);
    layout->addLayout(facts);
    layout->addWidget(status_);
    resize(560, 300);

    connect(registerButton, &QPushButton::clicked, this, [this] {
        QString path = QFileDialog::getOpenFileName(this, "Register component library", {},
                                                    "Libraries (*.so *.so.*)");
        if (!path.isEmpty())
            RegisterLibrary(path);
    });
    connect(create_, &QPushButton::clicked, this, [this] { CreateComponent("Kestrel.CWaveform"); });
    connect(getWaveform_, &QPushButton::clicked, this, [this] { CallGetWaveform(); });
    ListComponents();
    getWaveform_->setEnabled(false);
}

void HostWindow::Report(const QString& text) {
    status_->setText(text);
}

void HostWindow::RegisterLibrary(const QString& path) {
    std::string error;
    HRESULT result = kcom::RegisterLibrary(path.toStdString(), error);
    Report(SUCCEEDED(result) ? "Registered " + path
                             : "Could not register " + path + ": " +
                                   QString::fromStdString(error + " " + DescribeResult(result)));
    ListComponents();
}

void HostWindow::ListComponents() {
    components_->clear();
    for (const kcom::RegisteredClass& entry : kcom::RegisteredClasses()) {
        components_->addItem(QString::fromStdString(entry.progId + "  " + entry.clsid + "  " +
                                                    entry.library + "  (" + entry.threadingModel +
                                                    ")"));
    }
}

bool HostWindow::CreateComponent(const QString& name) {
    component_.Reset();
    HRESULT result = kcom::CreateInstance(name.toStdString(), IID_IDispatch, component_.Out());
    if (FAILED(result)) {
        QString advice;
        if (result == CO_E_CLASSSTRING || result == REGDB_E_CLASSNOTREG)
            advice = ". It is not registered in " + QString::fromStdString(kcom::RegistryPath()) +
                     ": register its library with \"Register library...\" (libKestrel.so.1) "
                     "or with kestrel-host --register LIBRARY";
        Report("Could not create " + name + ": " + QString::fromStdString(DescribeResult(result)) +
               advice);
        getWaveform_->setEnabled(false);
        return false;
    }
    componentId_->setText(QString::fromStdString(PropertyText(component_.Get(), u"ComponentID")));
    Report("Created " + name + ".");
    getWaveform_->setEnabled(true);
    return true;
}

void HostWindow::CallGetWaveform() {
    if (!component_)
        return;
    VARIANT wform, wTime;
    VariantInit(&wform);
    VariantInit(&wTime);
    double time = 0;
    wTime.vt = VT_R8 | VT_BYREF;
    wTime.pdblVal = &time;
    VARIANT byRefForm;
    VariantInit(&byRefForm);
    byRefForm.vt = VT_VARIANT | VT_BYREF;
    byRefForm.pvarVal = &wform;
    HRESULT result =
        CallByName(component_.Get(), u"getWaveform", DISPATCH_METHOD, {byRefForm, wTime}, nullptr);
    Report("getWaveform returned " + QString::fromStdString(DescribeResult(result)));
}

}  // namespace host
