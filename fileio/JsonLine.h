// One JSON object on one line, built member by member. Texts from the outside
// (instrument replies, file names) may hold any bytes: control characters are
// escaped and bytes that are not UTF-8 become U+FFFD, so the line is always
// valid JSON.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fileio {

class JsonLine {
  public:
    void Add(std::string_view key, std::string_view text);
    void AddOrNull(std::string_view key, const std::optional<std::string>& text);
    void Add(std::string_view key, long long number);
    void AddFixed(std::string_view key, double number, int decimals);
    void AddBool(std::string_view key, bool value);
    // The object, without a line end.
    std::string Text() const { return text_ + "}"; }

  private:
    void Key(std::string_view key);
    std::string text_ = "{";
};

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace fileio
