// Built without libudev: the sysfs walk is the only source.
#include "UdevScan.h"

namespace kr470 {

bool ScanUdev(const serialio::ScanRoots&, std::vector<serialio::SerialPortInfo>&) {
    return false;
}

}  // namespace kr470
