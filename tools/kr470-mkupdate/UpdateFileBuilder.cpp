#include "UpdateFileBuilder.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "CodeRules.h"
#include "Decimal.h"
#include "IniReader.h"
#include "SRecord.h"
#include "TextFile.h"

namespace kr470 {
namespace {

struct CodeFigures {
    int32_t characterSum = 0;
    int32_t dataRecords = 0;
    CodeChecksum instrumentChecksum;
};

CodeFigures Figures(const std::vector<std::string>& records) {
    CodeFigures f;
    for (const std::string& line : records) {
        f.characterSum = osprey::AddCharacterSum(f.characterSum, line);
        if (osprey::IsDataRecord(line)) {
            ++f.dataRecords;
        }
        if (std::optional<SRecord> record = DecodeSRecord(line)) {
            f.instrumentChecksum.Add(*record);
        }
    }
    return f;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string At(size_t index, const std::string& what) {
    return "line " + std::to_string(index + 1) + ": " + what;
}

// The lines before [Code] as text: headers closed, no blank where the
// lookup would take it as part of the key or the value.
void CheckKeyLines(const std::vector<std::string>& lines, size_t codeHeaderLine,
                   std::vector<std::string>& problems) {
    for (size_t i = 0; i + 1 < codeHeaderLine && i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.starts_with("[")) {
            if (line.find(']') == std::string::npos) {
                problems.push_back(At(i, "section header without ']'"));
            }
            continue;
        }
        size_t equals = line.find('=');
        if (line.empty() || equals == std::string::npos) {
            continue;
        }
        if (line.front() == ' ' || (equals > 0 && line[equals - 1] == ' ') ||
            (equals + 1 < line.size() && line[equals + 1] == ' ')) {
            problems.push_back(
                At(i, "blank before the key or around '=': the value will be read wrong"));
        }
    }
}

// The line the programs' lookup takes `key` from, when it is in `section`
// itself; the lookup runs on past the next header, the check does not.
std::optional<osprey::KeyLine> KeyInSection(osprey::TextFile& file, std::string_view section,
                                            std::string_view key) {
    std::optional<osprey::KeyLine> found = osprey::FindKeyLine(file, section, key);
    return found && !found->pastSection ? found : std::nullopt;
}

// The lookup landed on a line that only begins with the key ("IDNumber=7"
// for "IDN"): the programs read what follows its first character past the key.
std::string Misread(std::string_view section, std::string_view key, const osprey::KeyLine& line) {
    return At(line.lineNumber - 1, "[" + std::string(section) + "] \"" + std::string(key) +
                                       "\" reads as \"" + std::string(line.Value(key)) +
                                       "\": Osprey and the plug-in take the first line that "
                                       "begins with \"" +
                                       std::string(key) + "\"");
}

struct RequiredKey {
    const char* section;
    const char* key;
};

constexpr RequiredKey kRequiredKeys[] = {
    {"Firmware Info", "Name"},     {"Firmware Info", "IDN"},  {"Firmware Info", "Revision"},
    {"Firmware Info", "Checksum"}, {"Code Info", "Checksum"}, {"Code Info", "Number of Srecs"}};

void CheckRequiredKeys(osprey::TextFile& file, std::vector<std::string>& problems) {
    for (auto [section, key] : kRequiredKeys) {
        std::optional<osprey::KeyLine> found = KeyInSection(file, section, key);
        if (!found) {
            problems.push_back("[" + std::string(section) + "] has no \"" + key + "\" line");
        } else if (!found->IsKeysOwn(key)) {
            problems.push_back(Misread(section, key, *found));
        }
    }
}

// The number stored under `key`, when the lookup takes it from the key's own line.
std::optional<int32_t> StoredNumber(osprey::TextFile& file, std::string_view section,
                                    std::string_view key) {
    std::optional<osprey::KeyLine> found = KeyInSection(file, section, key);
    if (!found || !found->IsKeysOwn(key)) {
        return std::nullopt;
    }
    return osprey::DecimalInteger(found->Value(key));
}

std::string DescKey(size_t n) {
    return "Desc " + std::to_string(n);
}

std::optional<osprey::KeyLine> DescLine(osprey::TextFile& file, size_t n) {
    return KeyInSection(file, "Description", DescKey(n));
}

// The description is shown from "Desc 1" up to the first line missing: each
// shown line must be read from its own line, and no gap may hide later ones.
void CheckDescription(osprey::TextFile& file, std::vector<std::string>& problems) {
    for (size_t n = 1;; ++n) {
        std::optional<osprey::KeyLine> found = DescLine(file, n);
        if (!found) {
            break;
        }
        if (!found->IsKeysOwn(DescKey(n))) {
            problems.push_back(Misread("Description", DescKey(n), *found));
            break;
        }
    }
    auto hasOwnLine = [&file](size_t n) {
        std::optional<osprey::KeyLine> found = DescLine(file, n);
        return found && found->IsKeysOwn(DescKey(n));
    };
    for (size_t n = 1; hasOwnLine(n + 1); ++n) {
        if (!DescLine(file, n)) {
            problems.push_back("[Description] has no \"" + DescKey(n) +
                               "\": later lines will not be shown");
        }
    }
}

// The [Code] section after its header line (from 1): S-records up to END,
// the end record last, and the figures of [Firmware Info] and [Code Info].
void CheckCodeSection(osprey::TextFile& file, const std::vector<std::string>& lines,
                      size_t codeHeaderLine, std::vector<std::string>& problems) {
    std::vector<std::string> records;
    bool ended = false;
    std::optional<uint32_t> s5;
    for (size_t i = codeHeaderLine; i < lines.size(); ++i) {
        if (lines[i].starts_with("END")) {
            ended = true;
            if (lines[i] != "END") {
                // Osprey stops at it, but the plug-in's check takes no more than "END".
                problems.push_back(
                    At(i, "the END line has more after \"END\": the plug-in refuses it"));
            }
            break;
        }
        std::string why;
        std::optional<SRecord> record = DecodeSRecord(lines[i], &why);
        if (!record) {
            problems.push_back(At(i, "not a valid S-record: " + why));
        } else if (record->type == 5 || record->type == 6) {
            s5 = record->address;
        }
        if (lines[i].size() > osprey::kLongestCodeLine) {
            problems.push_back(At(i, "code line longer than 148 characters"));
        }
        records.push_back(lines[i]);
    }
    if (!ended) {
        problems.push_back("[Code] has no END line");
    }
    // The plug-in's pass ends after the first end record: it must be the last line.
    auto endRecord = std::find_if(records.begin(), records.end(), [](const std::string& line) {
        return osprey::IsEndRecord(line);
    });
    if (endRecord == records.end() || endRecord + 1 != records.end()) {
        problems.push_back(
            "[Code] does not end with its end record (S7, S8 or S9): the plug-in's download "
            "pass ends after the first one");
    }
    CodeFigures f = Figures(records);
    if (auto count = StoredNumber(file, "Code Info", "Number of Srecs");
        count && *count != f.dataRecords) {
        problems.push_back("\"Number of Srecs\" is " + std::to_string(*count) +
                           " but [Code] holds " + std::to_string(f.dataRecords) + " data records");
    }
    if (s5 && static_cast<int32_t>(*s5) != f.dataRecords) {
        problems.push_back("the S5 record counts " + std::to_string(*s5) +
                           " data records, [Code] holds " + std::to_string(f.dataRecords));
    }
    if (auto sum = StoredNumber(file, "Firmware Info", "Checksum");
        sum && *sum != osprey::kMagicChecksum && *sum != f.characterSum) {
        problems.push_back("[Firmware Info] \"Checksum\" is " + std::to_string(*sum) +
                           " but the character sum of [Code] is " + std::to_string(f.characterSum));
    }
    if (auto sum = StoredNumber(file, "Code Info", "Checksum");
        sum && static_cast<uint32_t>(*sum) != f.instrumentChecksum.Value()) {
        problems.push_back("[Code Info] \"Checksum\" is " + std::to_string(*sum) +
                           " but the instrument will report " +
                           std::to_string(f.instrumentChecksum.Value()));
    }
}

}  // namespace

std::string BuildUpdateFile(const UpdateFileInput& input) {
    CodeFigures f = Figures(input.records);
    const std::string end = input.crlf ? "\r\n" : "\n";
    std::ostringstream out;
    out << "[Firmware Info]" << end << "Name=" << input.name << end << "IDN=" << input.model << end
        << "Revision=" << input.revision << end
        << "Checksum=" << (input.magicChecksum ? osprey::kMagicChecksum : f.characterSum) << end
        << end;
    out << "[Code Info]" << end << "Checksum=" << f.instrumentChecksum.Value() << end
        << "Number of Srecs=" << f.dataRecords << end << end;
    out << "[Description]" << end;
    for (size_t i = 0; i < input.description.size(); ++i) {
        out << "Desc " << i + 1 << "=" << input.description[i] << end;
    }
    out << end << "[Code]" << end;
    for (const std::string& record : input.records) {
        out << record << end;
    }
    out << "END" << end;
    return out.str();
}

std::vector<std::string> CheckUpdateFile(const std::string& text) {
    std::vector<std::string> problems;
    std::vector<std::string> lines = SplitLines(text);
    osprey::TextFile file;
    file.OpenText(text);
    // Lines are counted alike by both readers: each ends at an LF.
    std::optional<size_t> codeHeader = osprey::FindSectionHeader(file, "Code");
    CheckKeyLines(lines, codeHeader.value_or(lines.size() + 1), problems);
    CheckRequiredKeys(file, problems);
    CheckDescription(file, problems);
    if (!codeHeader) {
        problems.push_back("no [Code] section");
        return problems;
    }
    CheckCodeSection(file, lines, *codeHeader, problems);
    return problems;
}

std::vector<std::string> GenerateImage(size_t bytes, uint32_t seed, const std::string& header) {
    std::vector<std::string> records;
    SRecord s0{0, 0, std::vector<uint8_t>(header.begin(), header.end())};
    records.push_back(EncodeSRecord(s0));
    uint32_t state = seed ? seed : 1;
    auto next = [&state] {  // xorshift32: the same image for the same seed everywhere
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<uint8_t>(state);
    };
    constexpr uint32_t kBase = 0x00010000;
    constexpr size_t kPerRecord = 32;
    uint32_t count = 0;
    for (size_t done = 0; done < bytes; done += kPerRecord, ++count) {
        SRecord s3{3, kBase + static_cast<uint32_t>(done), {}};
        for (size_t i = 0; i < kPerRecord && done + i < bytes; ++i) {
            s3.data.push_back(next());
        }
        records.push_back(EncodeSRecord(s3));
    }
    // S5 holds a 16-bit count; beyond that the 24-bit S6 record.
    records.push_back(EncodeSRecord(SRecord{count > 0xFFFF ? 6 : 5, count, {}}));
    records.push_back(EncodeSRecord(SRecord{7, kBase, {}}));
    return records;
}

}  // namespace kr470
