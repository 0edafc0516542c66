// Making and checking update files: the INI layout with [Firmware Info],
// [Code Info], [Description] and a [Code] section of S-records ending in END.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kr470 {

struct UpdateFileInput {
    std::vector<std::string> records;  // the S-record lines of the image, in order
    std::string name;
    std::string model = "KR470A";
    std::string revision;
    std::vector<std::string> description;
    bool magicChecksum = false;  // store -1: the character sum is not compared
    bool crlf = true;            // line ends as a file made on Windows has them
};

// The update file's text.
std::string BuildUpdateFile(const UpdateFileInput& input);

// The problems found in an update file's text, each "line N: what"; empty
// when the file is sound. Keys are read by the update file's own lookup, as
// Osprey and the plug-in read them: a key they would take from a line that
// only begins with it ("IDNumber=7" for "IDN") is a problem that says what
// the key reads as.
std::vector<std::string> CheckUpdateFile(const std::string& text);

// A deterministic firmware image of `bytes` bytes: an S0 header with
// `header`, S3 data records of 32 bytes, an S5 count and an S7 entry record.
std::vector<std::string> GenerateImage(size_t bytes, uint32_t seed, const std::string& header);

}  // namespace kr470
