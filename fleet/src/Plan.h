// The plan: one row per instrument, read from a plan file or made from
// addresses given on the command line with one update file.
//
// A plan file holds one row a line: ADDRESS UPDATE-FILE [SERIAL], fields
// separated by blanks or tabs. A field with blanks is written in double
// quotes ("ASRL/dev/serial/by-id/usb-Lab Adapter-if00::INSTR"), where \" and
// \\ stand for a quote and a backslash. A '#' outside quotes starts a comment
// that runs to the line's end; blank lines are skipped. An update file named
// by a relative path is found beside the plan file.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fleet {

struct PlanRow {
    std::string address;
    std::string updateFile;
    std::string expectedSerial;  // empty: any serial number
    std::string origin;          // "plan.txt:12", or "argument 3"
};

// A plan that cannot be used; what() is "FILE:LINE: what is wrong".
class PlanError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The rows of a plan file's text; `fileName` names the file in messages and
// `folder` is where relative update files are found (empty: as written).
std::vector<PlanRow> ParsePlan(std::string_view text, const std::string& fileName,
                               const std::string& folder);

// Reads and parses the plan file at `path` (a regular file of at most 1 MiB).
std::vector<PlanRow> ReadPlanFile(const std::string& path);

// One row for each address, all with the same update file.
std::vector<PlanRow> PlanFromAddresses(const std::vector<std::string>& addresses,
                                       const std::string& updateFile);

}  // namespace fleet
