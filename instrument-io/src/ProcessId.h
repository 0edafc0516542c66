// This process's id, as create_link gives it to a VXI-11 server to tell its
// clients apart. One file per platform behind it.
#pragma once

#include <cstdint>

namespace kio {

int32_t CurrentProcessId();

}  // namespace kio
