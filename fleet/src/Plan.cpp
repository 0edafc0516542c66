#include "Plan.h"

#include <filesystem>
#include <optional>

#include "RegularFile.h"

namespace fleet {
namespace {

constexpr uint64_t kLargestPlanFile = 1024 * 1024;
constexpr size_t kMostFields = 3;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // what some editors put first

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads a quoted field starting after its opening quote; `at` ends past the
// closing quote. Nothing when the line ends first.
std::optional<std::string> QuotedField(std::string_view line, size_t& at) {
    std::string field;
    while (at < line.size()) {
        char c = line[at++];
        if (c == '"') {
            return field;
        }
        if (c == '\\' && at < line.size() && (line[at] == '"' || line[at] == '\\')) {
            c = line[at++];
        }
        field += c;
    }
    return std::nullopt;
}

// The fields of one line; throws with `where` on a broken quote.
std::vector<std::string> SplitRow(std::string_view line, const std::string& where) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        if (at == line.size() || line[at] == '#') {
            return fields;
        }
        if (line[at] == '"') {
            ++at;
            std::optional<std::string> field = QuotedField(line, at);
            if (!field) {
                throw PlanError(where + ": the quote opened in field " +
                                std::to_string(fields.size() + 1) + " is never closed");
            }
            if (at < line.size() && !IsBlank(line[at]) && line[at] != '#') {
                throw PlanError(where + ": a blank must follow the closing quote of field " +
                                std::to_string(fields.size() + 1));
            }
            fields.push_back(std::move(*field));
            continue;
        }
        size_t start = at;
        while (at < line.size() && !IsBlank(line[at]) && line[at] != '#') {
            if (line[at] == '"') {
                throw PlanError(where + ": a quote inside field " +
                                std::to_string(fields.size() + 1) +
                                "; quote the whole field instead");
            }
            ++at;
        }
        fields.emplace_back(line.substr(start, at - start));
    }
}

PlanRow MakeRow(std::vector<std::string> fields, const std::string& where,
                const std::string& folder) {
    if (fields.size() < 2) {
        throw PlanError(where + ": a row needs an address and an update file");
    }
    if (fields.size() > kMostFields) {
        throw PlanError(where + ": a row has at most three fields (address, update file, " +
                        "serial number), this one has " + std::to_string(fields.size()));
    }
    for (const std::string& field : fields) {
        if (field.empty()) {
            throw PlanError(where + ": an empty field (\"\") names nothing");
        }
    }
    PlanRow row{fields[0], fields[1], fields.size() == 3 ? fields[2] : "", where};
    if (!folder.empty() && std::filesystem::path(row.updateFile).is_relative()) {
        row.updateFile = (std::filesystem::path(folder) / row.updateFile).string();
    }
    return row;
}

}  // namespace

std::vector<PlanRow> ParsePlan(std::string_view text, const std::string& fileName,
                               const std::string& folder) {
    std::vector<PlanRow> rows;
    size_t lineNumber = 0;
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::string where = fileName + ":" + std::to_string(lineNumber);
        std::vector<std::string> fields = SplitRow(line, where);
        if (!fields.empty()) {
            rows.push_back(MakeRow(std::move(fields), where, folder));
        }
    }
    if (rows.empty()) {
        throw PlanError(fileName + ":" + std::to_string(lineNumber) +
                        ": the plan names no instrument");
    }
    return rows;
}

std::vector<PlanRow> ReadPlanFile(const std::string& path) {
    std::string text, problem;
    switch (fileio::ReadRegularFile(path, kLargestPlanFile, text, problem)) {
        case fileio::ReadStatus::kRead:
            break;
        case fileio::ReadStatus::kMissing:
            throw PlanError(path + ": no such plan file");
        case fileio::ReadStatus::kUnreadable:
        case fileio::ReadStatus::kRefused:
            throw PlanError(problem);
    }
    return ParsePlan(text, path, std::filesystem::path(path).parent_path().string());
}

std::vector<PlanRow> PlanFromAddresses(const std::vector<std::string>& addresses,
                                       const std::string& updateFile) {
    std::vector<PlanRow> rows;
    for (size_t i = 0; i < addresses.size(); ++i) {
        rows.push_back({addresses[i], updateFile, "", "address " + std::to_string(i + 1)});
    }
    return rows;
}

}  // namespace fleet
