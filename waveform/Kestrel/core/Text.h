// Small text rules shared by the plug-in's routines.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace kestrel {

inline std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

inline bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           Lower(std::string(text.substr(0, prefix.size()))) == Lower(std::string(prefix));
}

}  // namespace kestrel
