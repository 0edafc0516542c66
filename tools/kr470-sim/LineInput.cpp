#include "LineInput.h"

namespace kr470 {

std::vector<std::string> LineInput::Feed(std::string_view bytes, int64_t nowMs) {
    dropped_.clear();
    if (!pending_.empty() && nowMs - lastMs_ > staleAfterMs_) {
        dropped_.swap(pending_);
    }
    lastMs_ = nowMs;
    pending_.append(bytes);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t lf; (lf = pending_.find('\n', start)) != std::string::npos; start = lf + 1) {
        lines.push_back(pending_.substr(start, lf - start));
    }
    pending_.erase(0, start);
    return lines;
}

}  // namespace kr470
