// The port listing through libudev, where kr470-ports was built with it: the
// same ports and identification as the sysfs walk (PortScan.h), as udev sees
// them.
#pragma once

#include <vector>

#include "PortScan.h"

namespace kr470 {

// False when the program was built without libudev or udev cannot
// enumerate; `ports` is then left alone.
bool ScanUdev(const serialio::ScanRoots& roots, std::vector<serialio::SerialPortInfo>& ports);

}  // namespace kr470
