// Splitting replies into fields and reading their numbers, over any text.
#include <array>
#include <string>

#include "Decimal.h"
#include "IniReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the number of slots, the rest is the reply.
    const size_t slotCount = data[0] % 8;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::array<char*, 8> slots{};
    int filled = osprey::SplitFields(text.data(), std::span<char*>(slots.data(), slotCount), ",");
    for (int i = 0; i < filled; ++i) {
        osprey::DecimalInteger(slots[static_cast<size_t>(i)]);
        osprey::DecimalNumber(slots[static_cast<size_t>(i)]);
    }
    return 0;
}
