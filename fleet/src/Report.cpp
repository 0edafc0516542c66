#include "Report.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "JsonLine.h"
#include "Printable.h"

namespace fleet {
namespace {

using Row = std::array<std::string, 6>;

const Row kHeadings = {"ADDRESS", "BEFORE", "AFTER", "RESULT", "PASSES", "SECONDS"};

std::string Seconds(double seconds) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f", seconds);
    return text.data();
}

Row TableRow(const JobReport& report) {
    return {Printable(report.address),
            Printable(report.identificationBefore.value_or("-")),
            Printable(report.identificationAfter.value_or("-")),
            OutcomeName(report.outcome),
            std::to_string(report.passes),
            Seconds(report.seconds)};
}

std::string Line(const Row& row, const std::array<size_t, 6>& widths) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
        line += row[i];
        if (i + 1 < row.size()) {
            line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
    }
    return line + "\n";
}

}  // namespace

std::string SummaryTable(const std::vector<JobReport>& reports) {
    std::vector<Row> rows = {kHeadings};
    for (const JobReport& report : reports) {
        rows.push_back(TableRow(report));
    }
    std::array<size_t, 6> widths{};
    for (const Row& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string table;
    for (const Row& row : rows) {
        table += Line(row, widths);
    }
    for (const JobReport& report : reports) {
        if (!report.message.empty()) {
            table += Printable(report.address) + ": " + Printable(report.message) + "\n";
        }
    }
    for (const JobReport& report : reports) {
        if (report.mayBeInDownloadMode) {
            table += Printable(report.address) +
                     " may be left in download mode: the download was not committed, so it may "
                     "now identify as a loader; run the same update again to recover it (if that "
                     "reports a wrong start token, switch it off and on first).\n";
        }
    }
    return table;
}

std::string JsonObject(const JobReport& report) {
    fileio::JsonLine json;
    json.Add("address", report.address);
    json.Add("update_file", report.updateFile);
    json.AddOrNull("idn_before", report.identificationBefore);
    json.AddOrNull("idn_after", report.identificationAfter);
    json.Add("result", OutcomeName(report.outcome));
    json.AddOrNull("message", report.message.empty() ? std::nullopt
                                                     : std::optional<std::string>(report.message));
    json.Add("passes", report.passes);
    json.AddFixed("seconds", report.seconds, 3);
    json.AddBool("download_mode", report.mayBeInDownloadMode);
    json.Add("log", report.logFile);
    return json.Text();
}

std::string JsonReport(const std::vector<JobReport>& reports, int exitStatus) {
    std::string text = "{\"instruments\":[\n";
    for (size_t i = 0; i < reports.size(); ++i) {
        text += JsonObject(reports[i]) + (i + 1 < reports.size() ? ",\n" : "\n");
    }
    return text + "],\"exit_status\":" + std::to_string(exitStatus) + "}\n";
}

int ExitStatus(const std::vector<JobReport>& reports, bool stopRequested, bool dryRun) {
    if (stopRequested) {
        return kStoppedByRequest;
    }
    const Outcome done = dryRun ? Outcome::kReady : Outcome::kUpdated;
    bool all = std::all_of(reports.begin(), reports.end(), [&](const JobReport& report) {
        return report.outcome == done || report.outcome == Outcome::kCurrent;
    });
    return all ? kAllDone : kSomeNotDone;
}

}  // namespace fleet
