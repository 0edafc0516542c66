#include "HostApplication.h"

#include <QApplication>
#include <QThread>

#include "DisplayProbe.h"
#include "frmSetup.h"

namespace kestrel {
namespace {

// The application object this library had to make for a host without one;
// it lives as long as the process, since the thread's windows need it.
QApplication* createdApplication = nullptr;

}  // namespace

HRESULT ShowWindowForHost() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        if (qobject_cast<QApplication*>(application) == nullptr)
            return E_FAIL;  // the host runs without widgets
        if (QThread::currentThread() != application->thread())
            return RPC_E_WRONG_THREAD;
    } else {
        if (!DisplayAvailable())
            return E_FAIL;
        static int argc = 1;
        static char name[] = "Kestrel";
        static char* argv[] = {name, nullptr};
        createdApplication = new QApplication(argc, argv);
    }
    return ShowSetupWindow(nullptr) ? S_OK : E_FAIL;
}

bool OwnsApplication() {
    return createdApplication != nullptr;
}

}  // namespace kestrel
