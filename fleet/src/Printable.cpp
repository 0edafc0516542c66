#include "Printable.h"

namespace fleet {
namespace {

// The lead byte of U+0080 to U+00BF in UTF-8; U+0080 to U+009F are the C1 controls.
constexpr unsigned char kC1Lead = 0xc2;

bool IsControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f;
}

bool IsC1Trail(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9f;
}

}  // namespace

std::string Printable(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte == kC1Lead && at + 1 < text.size() &&
            IsC1Trail(static_cast<unsigned char>(text[at + 1]))) {
            shown += '?';
            ++at;
        } else {
            shown += IsControl(byte) ? '?' : text[at];
        }
    }
    return shown;
}

}  // namespace fleet
