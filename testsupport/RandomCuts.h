// Points at which a test cuts an update off, drawn from a fixed seed that is
// printed, so a failing draw can be run again (KR470_CUT_SEED overrides it).
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// `count` points, each from `low` to `high` inclusive.
inline std::vector<size_t> RandomCuts(size_t count, size_t low, size_t high) {
    const char* text = std::getenv("KR470_CUT_SEED");
    const unsigned long seed =
        text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : 470;
    std::printf("interruption points drawn from seed %lu (KR470_CUT_SEED)\n", seed);
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    std::uniform_int_distribution<size_t> pick(low, high);
    std::vector<size_t> cuts;
    for (size_t i = 0; i < count; ++i) {
        cuts.push_back(pick(random));
    }
    return cuts;
}

// Where the first line beginning with `prefix` is (the size when none is):
// the bounds of a dialogue's download part.
inline size_t IndexOfFirst(const std::vector<std::string>& lines, std::string_view prefix) {
    auto found = std::find_if(lines.begin(), lines.end(),
                              [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return static_cast<size_t>(found - lines.begin());
}

}  // namespace testsupport
