// The port finder over a made-up sysfs and /dev tree, its "*IDN?" probe on
// the simulator's pseudo-terminal, and the ports-file section it writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "IdnProbe.h"
#include "PortScan.h"
#include "PortsSection.h"
#include "Process.h"
#include "ScopedEnv.h"
#include "SharedFolder.h"
#include "TempFile.h"
#include "UdevScan.h"

namespace kr470 {
namespace {

using serialio::ScanRoots;
using serialio::ScanSysfs;
using serialio::SerialPortInfo;

namespace fs = std::filesystem;
using testsupport::RunProcess;
using testsupport::Simulator;
using testsupport::TempDir;

// A sysfs and /dev tree with an on-board UART, UART slots with nothing
// fitted, a USB adapter with its by-id link, a modem, and a virtual console.
class FakeTree {
  public:
    FakeTree() {
        roots_.sys = (dir_.Path() / "sys").string();
        roots_.dev = (dir_.Path() / "dev").string();
        fs::create_directories(dir_.Path() / "dev" / "serial" / "by-id");
        Uart("ttyS0", "0");
        Uart("ttyS1", "4");
        Uart("ttyS2", "4");
        Uart("ttyS10", "4");
        fs::path usb = Dir("sys/devices/pci0/usb1/1-1");
        Write(usb / "idVendor", "0403\n");
        Write(usb / "idProduct", "6001\n");
        Write(usb / "manufacturer", "FTDI\n");
        Write(usb / "product", "FT232R USB UART\n");
        Write(usb / "serial", "A10K\n");
        Tty("ttyUSB0", Dir("sys/devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0"));
        Tty("ttyACM0", Dir("sys/devices/pci0/acm"));
        Dir("sys/class/tty/tty1");  // a virtual console: no device behind it
        fs::create_symlink("../../ttyUSB0", dir_.Path() / "dev/serial/by-id/usb-FTDI_A10K-if00");
    }
    const ScanRoots& Roots() const { return roots_; }
    const fs::path& Top() const { return dir_.Path(); }
    std::string Dev(const std::string& name) const { return roots_.dev + "/" + name; }

  private:
    fs::path Dir(const std::string& relative) {
        fs::create_directories(dir_.Path() / relative);
        return dir_.Path() / relative;
    }
    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text;
    }
    void Tty(const std::string& name, const fs::path& device) {
        fs::path tty = Dir("sys/class/tty/" + name);
        fs::create_symlink(device, tty / "device");
        Write(dir_.Path() / "dev" / name, "");
    }
    void Uart(const std::string& name, const std::string& type) {
        Tty(name, Dir("sys/devices/platform/serial8250/" + name));
        Write(dir_.Path() / "sys/class/tty" / name / "type", type + "\n");
    }

    TempDir dir_;
    ScanRoots roots_;
};

TEST(PortScan, ListsPortsWithHardwareInNumberOrderWithTheirIdentity) {
    FakeTree tree;
    std::vector<SerialPortInfo> ports = ScanSysfs(tree.Roots());
    std::vector<std::string> devices;
    for (const SerialPortInfo& p : ports)
        devices.push_back(p.device);
    EXPECT_EQ(devices,
              (std::vector<std::string>{tree.Dev("ttyACM0"), tree.Dev("ttyS1"), tree.Dev("ttyS2"),
                                        tree.Dev("ttyS10"), tree.Dev("ttyUSB0")}));
    const SerialPortInfo& usb = ports.back();
    EXPECT_EQ(usb.vendorId + ":" + usb.productId, "0403:6001");
    EXPECT_EQ(usb.manufacturer + "|" + usb.product + "|" + usb.serial, "FTDI|FT232R USB UART|A10K");
    EXPECT_EQ(usb.byId, tree.Roots().dev + "/serial/by-id/usb-FTDI_A10K-if00");
    EXPECT_TRUE(ports[1].vendorId.empty());
    EXPECT_TRUE(ports[1].byId.empty());
}

TEST(PortScan, ThePortFinderPrintsTheListingAndTheSectionByItsStableName) {
    FakeTree tree;
    TempDir out;
    std::string portsFile = (out.Path() / "osprey" / "ports.ini").string();
    std::vector<std::string> argv = {PORTS_PATH, "--sysfs", tree.Roots().sys, "--dev",
                                     tree.Roots().dev};
    testsupport::ProcessResult listing = RunProcess(argv, "");
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.output.find(tree.Dev("ttyUSB0") + "\n    by-id     " + tree.Roots().dev +
                                  "/serial/by-id/usb-FTDI_A10K-if00\n    usb       0403:6001 "
                                  "FTDI FT232R USB UART, serial A10K\n"),
              std::string::npos)
        << listing.output;

    testsupport::ProcessResult absent = RunProcess({PORTS_PATH, "--idn", "/dev/absent"}, "");
    EXPECT_EQ(absent.output, "/dev/absent\n    missing   no such device\n");

    argv.insert(argv.end(), {"--com", "3", "--append", "--ports-file", portsFile});
    EXPECT_EQ(RunProcess(argv, "").status, 1);  // five ports: which one?
    argv.push_back(tree.Dev("ttyUSB0"));
    EXPECT_EQ(RunProcess(argv, "").status, 0);
    EXPECT_EQ(RunProcess(argv, "").status, 1);  // COM3 is taken now
    std::ifstream in(portsFile);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[COM3]\ndevice = " + tree.Roots().dev +
                        "/serial/by-id/usb-FTDI_A10K-if00\nsettings = 57600,N,8,1\n");
}

// The device node belongs to dialout and the user is not in it (as root, the
// finder runs as nobody to see what a plain user sees).
TEST(PortScan, APortTheUserMayNotOpenSaysWhichGroupToJoin) {
    FakeTree tree;
    std::string device = tree.Dev("ttyUSB0");
    std::vector<std::string> argv = {PORTS_PATH, "--idn", device};
    if (geteuid() == 0) {
        ASSERT_EQ(chown(device.c_str(), 0, 20), 0);  // dialout's usual number
        // A copy nobody may run, in a tree nobody may enter (the build tree may be private).
        fs::path program = tree.Top() / "kr470-ports";
        fs::copy_file(PORTS_PATH, program);
        for (fs::path p = device; p != tree.Top(); p = p.parent_path())
            fs::permissions(p.parent_path(), fs::perms::others_exec, fs::perm_options::add);
        argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                program.string(),   "--idn",         device};
    }
    fs::permissions(device, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::group_write);
    if (geteuid() != 0)
        fs::permissions(device, fs::perms::group_read | fs::perms::group_write);
    testsupport::ProcessResult r = RunProcess(argv, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("    access    no permission: add yourself to "), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("sudo usermod -aG "), std::string::npos);
    EXPECT_EQ(r.output.find("*IDN?"), std::string::npos);  // not even tried

    // A node only root may use: joining its group (root's) would not help.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(device.c_str(), 0, 0), 0);
        fs::permissions(device, fs::perms::owner_read | fs::perms::owner_write);
        r = RunProcess(argv, "");
        EXPECT_EQ(r.output.find("add yourself to root"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("install the udev rule 60-kr470-serial.rules"), std::string::npos)
            << r.output;
    }
}

TEST(PortsSection, AppendsAfterWhatIsThereAndRefusesAPortAlreadyNamed) {
    TempDir dir;
    std::string path = dir.Write("ports.ini", "[com1]\ndevice = /dev/ttyUSB0");
    EXPECT_NE(AppendPortsSection(path, 1, PortsSection(1, "/dev/x", "9600,N,8,1")), "");
    EXPECT_EQ(AppendPortsSection(path, 2, PortsSection(2, "/dev/x", "9600,N,8,1")), "");
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text,
              "[com1]\ndevice = /dev/ttyUSB0\n\n[COM2]\ndevice = /dev/x\nsettings = 9600,N,8,1\n");
    EXPECT_TRUE(HasPortSection(" [ASRL4] \n", 4));
    EXPECT_FALSE(HasPortSection("[COM14]\n", 4));
}

TEST(PortsSection, AppendsOnlyToARegularFileAndNeverThroughAPlantedLink) {
    TempDir dir;
    const std::string fifo = (dir.Path() / "ports.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string section = PortsSection(2, "/dev/x", "9600,N,8,1");
    EXPECT_NE(AppendPortsSection(fifo, 2, section).find("FIFO"), std::string::npos);  // no block
    std::filesystem::create_symlink("made.ini", dir.Path() / "dangling.ini");
    EXPECT_NE(AppendPortsSection((dir.Path() / "dangling.ini").string(), 2, section), "");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "made.ini"));
    // A device that never ends is refused at its kind, before a byte is read.
    EXPECT_EQ(AppendPortsSection("/dev/zero", 2, section),
              "cannot use the ports file: /dev/zero is a character device, not a regular file");
    // The user's own link to a file is refused too: nothing is written through it.
    const std::string mine = dir.Write("mine.ini", "; kept\n");
    std::filesystem::create_symlink(mine, dir.Path() / "linked.ini");
    EXPECT_NE(AppendPortsSection((dir.Path() / "linked.ini").string(), 2, section)
                  .find("linked.ini is a symbolic link"),
              std::string::npos);
    std::ifstream kept(mine);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "; kept\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() / "linked.ini"));

    if (!testsupport::SharedFolder::CanActAsAnotherUser())
        GTEST_SKIP() << "needs root to make another user's link";
    testsupport::SharedFolder shared;
    const std::filesystem::path victim = shared.Top() / "victim";
    std::ofstream(victim) << "precious\n";
    EXPECT_NE(AppendPortsSection(shared.Link("ports.ini", victim), 2, section)
                  .find("another user's symbolic link"),
              std::string::npos);
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious\n");
}

// The probe takes each port's lock: in a folder of the test's own, put back after.
class OwnLockFolder {
  public:
    OwnLockFolder() { fs::create_directory(Path()); }
    fs::path Path() const { return dir_.Path() / "locks"; }

  private:
    TempDir dir_;
    testsupport::ScopedEnv variable_{"KR470_LOCK_DIR", Path().string()};
};

TEST(IdnProbe, AsksTheSimulatorAndGivesUpOnASilentOneAtTheTimeOut) {
    OwnLockFolder locks;
    Simulator talking({SIMULATOR_PATH});
    ProbeResult reply = AskIdentification(talking.FirstLine(), serialio::LineConfig{}, 5000);
    EXPECT_TRUE(reply.answered);
    EXPECT_EQ(reply.text, "Velmora,KR470A,SN470001,1.04-2.10-0.9");

    Simulator silent({SIMULATOR_PATH, "--silent", "*IDN?"});
    reply = AskIdentification(silent.FirstLine(), serialio::LineConfig{}, 50);
    EXPECT_FALSE(reply.answered);
    EXPECT_EQ(reply.text, "no answer within 50 ms");
    EXPECT_FALSE(AskIdentification("/nonexistent/tty", serialio::LineConfig{}, 50).answered);
}

TEST(IdnProbe, PortWhoseLockNamesALiveProgramIsNeverWrittenTo) {
    OwnLockFolder locks;
    const std::string transcript = (locks.Path().parent_path() / "transcript.txt").string();
    Simulator instrument({SIMULATOR_PATH, "--transcript", transcript});
    const std::string pty = instrument.FirstLine();
    std::ofstream((locks.Path() / ("LCK..pts_" + pty.substr(pty.rfind('/') + 1))).string())
        << "  " << getppid() << "\n";  // an update under way, as root or not
    ProbeResult reply = AskIdentification(pty, serialio::LineConfig{}, 200);
    instrument.Stop();
    EXPECT_FALSE(reply.answered);
    EXPECT_EQ(reply.text, "busy: held by PID " + std::to_string(getppid()));
    std::ifstream sent(transcript);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(sent), {}), "");  // no "*IDN?" got through
}

TEST(PortScan, UdevAndTheSysfsWalkFindTheSamePortsHere) {
    std::vector<SerialPortInfo> viaUdev;
    if (!ScanUdev(ScanRoots{}, viaUdev))
        GTEST_SKIP() << "built without libudev";
    std::vector<SerialPortInfo> viaSysfs = ScanSysfs(ScanRoots{});
    ASSERT_EQ(viaUdev.size(), viaSysfs.size());
    for (size_t i = 0; i < viaUdev.size(); ++i) {
        EXPECT_EQ(viaUdev[i].device, viaSysfs[i].device);
        EXPECT_EQ(viaUdev[i].vendorId, viaSysfs[i].vendorId);
        EXPECT_EQ(viaUdev[i].serial, viaSysfs[i].serial);
    }
}

}  // namespace
}  // namespace kr470
