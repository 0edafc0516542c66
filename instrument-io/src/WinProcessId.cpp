#include <windows.h>

#include "ProcessId.h"

namespace kio {

int32_t CurrentProcessId() {
    return static_cast<int32_t>(GetCurrentProcessId());
}

}  // namespace kio
