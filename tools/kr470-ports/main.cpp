// kr470-ports: lists the serial ports present with what identifies them,
// optionally asks each "*IDN?", and prints (or appends) the ports-file
// section that makes one of them COM<n> for Osprey.
#include <getopt.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "IdnProbe.h"
#include "PortScan.h"
#include "PortsSection.h"
#include "ToolArgs.h"
#include "UdevScan.h"

namespace {

constexpr const char* kUsage =
    "Usage: kr470-ports [OPTION]... [DEVICE]...\n"
    "Lists the serial ports present (ttyS with a UART, ttyUSB, ttyACM) with their\n"
    "/dev/serial/by-id names and USB identification, or only the DEVICEs named.\n"
    "\n"
    "  -i, --idn               ask each port \"*IDN?\" and show the answer; a port\n"
    "                          another program holds (its lock file) shows as busy\n"
    "  -s, --settings TEXT     line settings for --idn and the section\n"
    "                          (default 57600,N,8,1)\n"
    "  -t, --timeout MS        how long to wait for the answer (default 500)\n"
    "  -c, --com N             print the ports-file section that makes the one port\n"
    "                          listed COM<N> (name the port when there are more)\n"
    "  -a, --append            with --com: append the section to the ports file\n"
    "  -f, --ports-file FILE   the ports file for --append (default: $OSPREY_PORTS,\n"
    "                          else ${XDG_CONFIG_HOME:-~/.config}/osprey/ports.ini)\n"
    "      --sysfs DIR         read the device tree below DIR instead of /sys\n"
    "      --dev DIR           look for device nodes below DIR instead of /dev\n"
    "  -h, --help              show this help and exit\n"
    "  -V, --version           show the version and exit\n";

struct Settings {
    bool askIdn = false;
    std::string lineText = "57600,N,8,1";
    serialio::LineConfig line;  // no handshake
    int timeoutMs = 500;
    int com = 0;  // 0: no section
    bool append = false;
    std::string portsFile;
    bool customSys = false;
    serialio::ScanRoots roots;
    std::vector<std::string> devices;
};

// "--com takes a number above 0, not 'x'": the ceiling only guards against nonsense.
std::string NumberWording(toolargs::NumberFault, std::string_view option, std::string_view text,
                          long long, long long) {
    return std::string(option) + " takes a number above 0, not '" + std::string(text) + "'";
}

constexpr toolargs::Tool kTool("kr470-ports", NumberWording);

[[noreturn]] void Fail(const std::string& why) {
    kTool.Fail(why);
}

int PositiveNumber(const char* option, const char* text) {
    return static_cast<int>(kTool.Number(option, text, 1, 100000));
}

void TakeOption(int c, const char* value, Settings& s) {
    switch (c) {
        case 'i':
            s.askIdn = true;
            break;
        case 's':
            s.lineText = value;
            break;
        case 't':
            s.timeoutMs = PositiveNumber("--timeout", value);
            break;
        case 'c':
            s.com = PositiveNumber("--com", value);
            break;
        case 'a':
            s.append = true;
            break;
        case 'f':
            s.portsFile = value;
            break;
        case 'S':
            s.roots.sys = value;
            s.customSys = true;
            break;
        case 'D':
            s.roots.dev = value;
            break;
        default:
            Fail("bad command line");  // getopt_long has named the option
    }
}

Settings ParseArguments(int argc, char** argv) {
    static constexpr option kOptions[] = {{"idn", no_argument, nullptr, 'i'},
                                          {"settings", required_argument, nullptr, 's'},
                                          {"timeout", required_argument, nullptr, 't'},
                                          {"com", required_argument, nullptr, 'c'},
                                          {"append", no_argument, nullptr, 'a'},
                                          {"ports-file", required_argument, nullptr, 'f'},
                                          {"sysfs", required_argument, nullptr, 'S'},
                                          {"dev", required_argument, nullptr, 'D'},
                                          {"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {nullptr, 0, nullptr, 0}};
    Settings s;
    for (int c; (c = getopt_long(argc, argv, "is:t:c:af:hV", kOptions, nullptr)) != -1;) {
        if (c == 'h') {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (c == 'V') {
            std::printf("kr470-ports %s\n", KR470_VERSION);
            std::exit(0);
        }
        TakeOption(c, optarg, s);
    }
    s.devices.assign(argv + optind, argv + argc);
    if (!serialio::ParseLineText(s.lineText, s.line))
        Fail("--settings: not a line setting this tool can use: '" + s.lineText + "'");
    if (s.append && s.com == 0)
        Fail("--append needs --com N");
    if (s.portsFile.empty())
        s.portsFile = kr470::DefaultPortsFile();
    return s;
}

// What to tell a user who may not open the device, or empty. Joining the
// device's group helps only where that group may read and write it, and is
// never root's group; elsewhere the udev rule is what gives the port away.
std::string PermissionHint(const std::string& device) {
    if (access(device.c_str(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    struct stat info {};
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    if (stat(device.c_str(), &info) == 0 && info.st_gid != 0 &&
        (info.st_mode & kGroupReadWrite) == kGroupReadWrite) {
        if (const struct group* g = getgrgid(info.st_gid); g != nullptr) {
            const std::string groupName = g->gr_name;
            return "no permission: add yourself to " + groupName + " (sudo usermod -aG " +
                   groupName + " \"$USER\"), then log in again";
        }
    }
    return "no permission, and the device's group may not use it either: install the udev rule "
           "60-kr470-serial.rules (it gives serial adapters to dialout), plug the adapter in "
           "again, add yourself to dialout (sudo usermod -aG dialout \"$USER\") and log in again";
}

void PrintPort(const serialio::SerialPortInfo& port, const Settings& s) {
    std::printf("%s\n", port.device.c_str());
    if (!port.byId.empty())
        std::printf("    by-id     %s\n", port.byId.c_str());
    if (!port.vendorId.empty()) {
        std::printf("    usb       %s:%s %s %s", port.vendorId.c_str(), port.productId.c_str(),
                    port.manufacturer.c_str(), port.product.c_str());
        std::printf("%s%s\n", port.serial.empty() ? "" : ", serial ", port.serial.c_str());
    }
    if (access(port.device.c_str(), F_OK) != 0) {
        std::printf("    missing   no such device\n");
        return;
    }
    std::string hint = PermissionHint(port.device);
    if (!hint.empty()) {
        std::printf("    access    %s\n", hint.c_str());
        return;
    }
    if (s.askIdn) {
        kr470::ProbeResult reply = kr470::AskIdentification(port.device, s.line, s.timeoutMs);
        if (reply.answered)
            std::printf("    *IDN?     %s\n", reply.text.c_str());
        else
            std::printf("    *IDN?     (%s)\n", reply.text.c_str());
    }
}

std::vector<serialio::SerialPortInfo> FindPorts(const Settings& s) {
    std::vector<serialio::SerialPortInfo> ports;
    for (const std::string& device : s.devices)
        ports.push_back(serialio::DescribeDevice(s.roots, device));
    if (!s.devices.empty())
        return ports;
    if (s.customSys || !kr470::ScanUdev(s.roots, ports))
        ports = serialio::ScanSysfs(s.roots);
    return ports;
}

int WriteSection(const std::vector<serialio::SerialPortInfo>& ports, const Settings& s) {
    if (ports.size() != 1) {
        std::fprintf(stderr, "kr470-ports: --com needs exactly one port; %zu listed: name it\n",
                     ports.size());
        return 1;
    }
    const serialio::SerialPortInfo& port = ports.front();
    // The by-id name stays the same whichever order adapters are plugged in.
    std::string section =
        kr470::PortsSection(s.com, port.byId.empty() ? port.device : port.byId, s.lineText);
    if (!s.append) {
        std::printf("\n%s", section.c_str());
        return 0;
    }
    std::string why = kr470::AppendPortsSection(s.portsFile, s.com, section);
    if (!why.empty()) {
        std::fprintf(stderr, "kr470-ports: %s\n", why.c_str());
        return 1;
    }
    std::printf("\nAdded to %s:\n%s", s.portsFile.c_str(), section.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings = ParseArguments(argc, argv);
    std::vector<serialio::SerialPortInfo> ports = FindPorts(settings);
    if (ports.empty())
        std::printf("No serial ports found.\n");
    for (const serialio::SerialPortInfo& port : ports)
        PrintPort(port, settings);
    return settings.com != 0 ? WriteSection(ports, settings) : 0;
}
