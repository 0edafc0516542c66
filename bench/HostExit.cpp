// A host closing the finder in the middle of a search, then its windows, then
// ending: how long closing the finder takes, and (with the wrapper, which
// reads /proc/uptime once the process is gone) how long the process takes to
// end after its last window closed. The search asks a board of 30 addresses
// behind a silent "++" controller and 4 silent socket instruments, so every
// probe under way is in the middle of a wait when the finder closes.
// Usage: bench-host-exit LIBKESTREL WORK_FOLDER
// Prints "finder closed in X ms" and "windows closed at UPTIME".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Activation.h"
#include "CWaveformInterface.h"
#include "Registry.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback port that accepts (the kernel does) and never replies.
std::string SilentSocket() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0)
        std::exit(1);
    return "TCPIP0::127.0.0.1::" + std::to_string(ntohs(where.sin_port)) + "::SOCKET";
}

QWidget* Showing(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name && widget->isVisible())
            return widget;
    }
    return nullptr;
}

Clock::time_point closing;

// Opens the finder from the setup window; once its search is under way,
// closes it, then the setup window.
void DriveTheWindows() {
    QTimer::singleShot(0, [] {
        QTimer::singleShot(800, [] {
            closing = Clock::now();
            Showing("frmConnect")->findChild<QPushButton*>("cmdClose")->click();
        });
        Showing("frmSetup")->findChild<QPushButton*>("cmdConnect")->click();
        std::printf("finder closed in %.1f ms\n",
                    std::chrono::duration<double, std::milli>(Clock::now() - closing).count());
        Showing("frmSetup")->findChild<QPushButton*>("cmdCancel")->click();
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const std::string work = argv[2];
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("KCOM_REGISTRY", (work + "/registry.ini").c_str(), 1);
    setenv("XDG_CONFIG_HOME", work.c_str(), 1);
    setenv("KIO_CONFIG", (work + "/kio.ini").c_str(), 1);
    {
        std::ofstream config(work + "/kio.ini");
        config << "[gpib0]\ncontroller = " << SilentSocket() << "\nscan = 1-30\n[aliases]\n";
        for (int i = 1; i <= 4; ++i)
            config << "INSTR" << i << " = " << SilentSocket() << "\n";
    }
    std::string error;
    if (kcom::RegisterLibrary(argv[1], error) != S_OK) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    kcom::ComPtr<_CWaveform> waveform;
    if (kcom::CreateInstance(kKestrelProgId, IID__CWaveform, waveform.Out()) != S_OK)
        return 1;
    qAddPreRoutine(DriveTheWindows);
    VARIANT wform;
    VariantInit(&wform);
    double wTime = 0;
    if (waveform->getWaveform(&wform, &wTime) != S_OK)
        return 1;
    waveform.Reset();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    std::printf("windows closed at %.3f\n", now.tv_sec + now.tv_nsec / 1e9);
    std::fflush(stdout);
    return 0;
}
