#include "PortsSection.h"

#include <sys/stat.h>

#include <filesystem>

#include "AtomicWrite.h"
#include "ConfigPath.h"
#include "IniFile.h"
#include "RegularFile.h"
#include "TextRules.h"
#include "WritePath.h"

namespace kr470 {
namespace {

constexpr uint64_t kLargestPortsFile = 1 << 20;

// The ports file is never written through a link, nor is the link replaced
// by a file: the user is asked to name the file itself. Another user's link in
// a shared folder is named as such.
bool CheckNoLinkAt(const std::string& path, std::string& problem) {
    std::string target;
    if (!fileio::PathToWrite(path, fileio::LinkUse::kWriteThrough, target, problem)) {
        problem = "cannot use the ports file: " + problem;
        return false;
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        problem = "cannot use the ports file: " + path +
                  " is a symbolic link; name the file itself with --ports-file";
        return false;
    }
    return true;
}

}  // namespace

std::string PortsSection(int number, const std::string& device, const std::string& settings) {
    return "[COM" + std::to_string(number) + "]\ndevice = " + device + "\nsettings = " + settings +
           "\n";
}

std::string DefaultPortsFile() {
    return fileio::ConfigFilePath("OSPREY_PORTS", "osprey/ports.ini");
}

bool HasPortSection(const std::string& fileText, int number) {
    const std::string n = std::to_string(number);
    for (std::string_view raw : fileio::IniLines(fileText)) {
        const fileio::IniLine line = fileio::ParseIniLine(raw);
        if (line.kind == fileio::IniLineKind::kSection &&
            (fileio::SameIgnoringCase(line.name, "COM" + n) ||
             fileio::SameIgnoringCase(line.name, "ASRL" + n)))
            return true;
    }
    return false;
}

std::string AppendPortsSection(const std::string& path, int number, const std::string& section) {
    std::string problem, existing;
    if (!CheckNoLinkAt(path, problem))
        return problem;
    fileio::MakeFolders(std::filesystem::path(path).parent_path().string(), problem);
    switch (fileio::ReadRegularFile(path, kLargestPortsFile, existing, problem)) {
        case fileio::ReadStatus::kRead:
        case fileio::ReadStatus::kMissing:
            break;
        case fileio::ReadStatus::kRefused:
        case fileio::ReadStatus::kUnreadable:
            return "cannot use the ports file: " + problem;
    }
    if (HasPortSection(existing, number))
        return path + " already has a section for COM" + std::to_string(number);
    // A blank line between sections, and a line end before it if the file lacks one.
    if (!existing.empty())
        existing += existing.back() == '\n' ? "\n" : "\n\n";
    existing += section;
    // Replaced whole: a reader never sees half a section. A link that appeared
    // since the check is replaced, never written through.
    if (!fileio::WriteFileAtomically(path, existing, problem, fileio::LinkUse::kReplaceLink))
        return problem;  // "cannot replace PATH: why"
    return {};
}

}  // namespace kr470
