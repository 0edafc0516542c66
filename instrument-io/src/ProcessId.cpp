#include "ProcessId.h"

#include <unistd.h>

namespace kio {

int32_t CurrentProcessId() {
    return static_cast<int32_t>(getpid());
}

}  // namespace kio
