#include "HostApplication.h"

#include <QApplication>
#include <QThread>

#include "DisplayProbe.h"
#include "HostProcessState.h"
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
        // The application sets the process's locale from the user's settings
        // (and may touch signals and the environment); the host gets its
        // process back as it was, once made and again after the window.
        const HostProcessState hostState;
        static int argc = 1;
        static char name[] = "Kestrel";
        static char* argv[] = {name, nullptr};
        createdApplication = new QApplication(argc, argv);
        hostState.Restore();
        const bool shown = ShowSetupWindow(nullptr);
        hostState.Restore();
        return shown ? S_OK : E_FAIL;
    }
    return ShowSetupWindow(nullptr) ? S_OK : E_FAIL;
}

bool OwnsApplication() {
    return createdApplication != nullptr;
}

}  // namespace kestrel
