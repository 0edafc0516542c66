// Takes the pictures of the plug-in's windows for the documentation: each
// page of the settings face, the progress face at the end of a real update
// (against whatever instrument the default address reaches), the finder
// after its search, and the host program's window with the component made
// from LIBRARY. Usage: kestrel-screenshots UPDATE_FILE OUTPUT_FOLDER LIBRARY
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <string>
#include <vector>

#include "HostWindow.h"
#include "QtWindowServices.h"
#include "VlmDiscovery.h"
#include "frmConnect.h"
#include "frmSetup.h"

namespace {

QString folder;

void Save(QWidget* widget, const char* name) {
    QCoreApplication::processEvents();
    const QString path = folder + "/" + name + ".png";
    if (!widget->grab().save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

QWidget* TopLevel(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == name && widget->isVisible())
            return widget;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: kestrel-screenshots UPDATE_FILE OUTPUT_FOLDER LIBRARY\n");
        return 2;
    }
    const QString updateFile = argv[1];
    folder = argv[2];

    // The same two candidates on every machine: the instrument behind the
    // default address, and a loopback port where nobody answers.
    kestrel::VlmDiscovery::SetCandidateSource([] {
        return kestrel::SearchList{{"GPIB0::10", "TCPIP0::127.0.0.1::1::SOCKET"}, {}, {}};
    });

    host::HostWindow host;
    host.RegisterLibrary(argv[3]);
    host.CreateComponent("Kestrel.CWaveform");
    host.show();
    Save(&host, "host");
    host.hide();

    // At the end of the update the success box stands for the picture of the
    // progress face; every box is answered Yes or OK.
    kestrel::SetMessageBoxHook([](const kestrel::MessageBoxRequest& box) {
        if (box.text.rfind("Firmware update completed", 0) == 0)
            Save(TopLevel("frmSetup"), "frmSetup-progress");
        return box.buttons == kestrel::Buttons::kYesNo ? kestrel::Answer::kYes
                                                       : kestrel::Answer::kOk;
    });
    QTimer::singleShot(0, [&] {
        QWidget* setup = TopLevel("frmSetup");
        auto* tabs = setup->findChild<QTabWidget*>("tabSetup");
        // As after a pick with "Find Update File": both boxes name the file.
        setup->findChild<QLineEdit*>("txtInputFile")->setText(updateFile);
        setup->findChild<QLineEdit*>("txtFindFile")->setText(updateFile);
        const char* pages[] = {"frmSetup-settings", "frmSetup-connection", "frmSetup-update-file"};
        for (int page = 0; page < 3; ++page) {
            tabs->setCurrentIndex(page);
            Save(setup, pages[page]);
        }
        tabs->setCurrentIndex(1);
        QTimer::singleShot(0, [] {
            QWidget* finder = TopLevel("frmConnect");
            auto* discovery = finder->findChild<kestrel::VlmDiscovery*>("VlmDiscovery");
            if (!QTest::qWaitFor([&] { return !discovery->Searching(); }, 10000))
                std::fprintf(stderr, "the search did not end\n");
            // The instrument picked, as the user would before "Close".
            auto* list = finder->findChild<QTreeWidget*>("lstInstruments");
            list->setCurrentItem(list->topLevelItem(0));
            finder->findChild<QPushButton*>("cmdConnectInstrument")->click();
            Save(finder, "frmConnect");
            finder->findChild<QPushButton*>("cmdClose")->click();
        });
        setup->findChild<QPushButton*>("cmdConnect")->click();
        tabs->setCurrentIndex(0);
        setup->findChild<QPushButton*>("cmdOK")->click();
    });
    return kestrel::ShowSetupWindow(nullptr) ? 0 : 1;
}
