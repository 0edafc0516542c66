#include "OutputTap.h"

namespace osprey {

// The C library here has no custom streams: there is no tap, and the result
// record goes without the console's last message (its other fields stay).
OutputTap::OutputTap(FILE* through, Listener listener)
    : through_(through), listener_(std::move(listener)) {}

OutputTap::~OutputTap() = default;

}  // namespace osprey
