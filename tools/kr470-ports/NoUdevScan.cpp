// Built without libudev: the sysfs walk is the only source.
#include "PortScan.h"

namespace kr470 {

bool ScanUdev(const ScanRoots&, std::vector<SerialPortInfo>&) {
    return false;
}

}  // namespace kr470
