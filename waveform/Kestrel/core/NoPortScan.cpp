// A stand-in for the serial port listing on a platform whose serial module
// does not list ports yet: no port is present. The finder still asks the
// addresses the configuration names.
#include "PortScan.h"

namespace serialio {

std::vector<SerialPortInfo> ScanSysfs(const ScanRoots&) {
    return {};
}

}  // namespace serialio
