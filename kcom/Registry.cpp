#include "Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "AtomicWrite.h"
#include "ConfigPath.h"
#include "IniFile.h"
#include "TextRules.h"

namespace kcom {
namespace {

// IDispatch's marshaller, which dual interfaces name as their proxy.
constexpr const char* kDispatchProxy = "{00020424-0000-0000-C000-000000000046}";

// The registry file as read: its parsed keys and its lines as they stand,
// so that a write keeps comments, blank lines and the order of entries.
struct RegistryFile {
    RegistryKeys keys;
    std::vector<std::string> lines;
};

using fileio::IniLineKind;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::string_view line : fileio::IniLines(text))
        lines.emplace_back(line);
    return lines;
}

// False, with `error`, for a line that is no header, value or comment, or a
// value before the first header: such a file is not changed.
bool Parse(const std::string& path, const std::string& text, RegistryFile& file,
           std::string& error) {
    if (text.find('\0') != std::string::npos) {
        error = path + " is not a text file";
        return false;
    }
    file.lines = SplitLines(text);
    std::string section;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        fileio::IniLine line = fileio::ParseIniLine(file.lines[i]);
        if (line.kind == IniLineKind::kSection) {
            section = line.name;
            file.keys[section];
        } else if (line.kind == IniLineKind::kValue || line.kind == IniLineKind::kMalformed) {
            if (section.empty() || line.kind == IniLineKind::kMalformed) {
                error = "cannot parse the registry: " + path + ", line " + std::to_string(i + 1) +
                        " is neither a [key] header, a name = value line nor a comment";
                return false;
            }
            file.keys[section][line.name] = line.value;
        }
    }
    return true;
}

// Reads the registry file. A missing file is an empty registry; one that is
// no regular file, cannot be read or cannot be parsed is an error.
bool ReadRegistryFile(const std::string& path, RegistryFile& file, std::string& error) {
    std::string text;
    std::string problem;
    // A registry named by KCOM_REGISTRY and not there yet is made by the first registration.
    if (fileio::ReadOwnFile(path, kLargestRegistry, nullptr, "registry", text, problem))
        return Parse(path, text, file, error);
    error = "cannot read the registry: " + problem;
    return false;
}

std::string FormatSection(const std::string& path, const RegistryValues& values) {
    std::string out = "[" + path + "]\n";
    for (const auto& [name, data] : values)
        out += name + " = " + data + "\n";
    return out + "\n";
}

// The file's lines with the keys' new content: unchanged value lines stay as
// they were, changed ones are rewritten in place, removed values and removed
// sections go, comments stay and so do blank lines outside removed sections; new values close their
// section and new sections follow at the end.
class RegistryWriter {
  public:
    explicit RegistryWriter(const RegistryKeys& keys) : keys_(keys), current_(keys.end()) {}

    std::string Write(const std::vector<std::string>& lines) {
        for (const std::string& raw : lines) {
            fileio::IniLine line = fileio::ParseIniLine(raw);
            if (line.kind == IniLineKind::kSection)
                StartSection(line.name, raw);
            else if (line.kind == IniLineKind::kValue)
                WriteValue(line, raw);
            else if (!removed_ || line.kind != IniLineKind::kBlank)
                held_.push_back(raw);  // placed after any values this section gains
        }
        EndSection();
        for (const auto& [path, values] : keys_) {
            if (!written_.contains(path))
                out_ += FormatSection(path, values);
        }
        return out_;
    }

  private:
    void StartSection(const std::string& name, const std::string& raw) {
        EndSection();
        current_ = keys_.find(name);
        if (current_ != keys_.end() && written_.insert(name).second) {
            out_ += raw + "\n";
        } else {
            current_ = keys_.end();  // removed, or a repeated header already merged
        }
        removed_ = current_ == keys_.end();
        valuesWritten_.clear();
    }

    void WriteValue(const fileio::IniLine& line, const std::string& raw) {
        if (current_ == keys_.end())
            return;
        auto value = current_->second.find(line.name);
        if (value == current_->second.end() || !valuesWritten_.insert(line.name).second)
            return;
        Flush();
        out_ += (value->second == line.value ? raw : line.name + " = " + value->second) + "\n";
    }

    void EndSection() {
        if (current_ != keys_.end()) {
            for (const auto& [name, data] : current_->second) {
                if (!valuesWritten_.contains(name))
                    out_ += name + " = " + data + "\n";
            }
        }
        current_ = keys_.end();
        Flush();
    }

    void Flush() {
        for (const std::string& raw : held_)
            out_ += raw + "\n";
        held_.clear();
    }

    const RegistryKeys& keys_;
    RegistryKeys::const_iterator current_;
    bool removed_ = false;  // the lines now read belong to a section that goes
    std::set<std::string> written_;
    std::set<std::string> valuesWritten_;
    std::vector<std::string> held_;
    std::string out_;
};

thread_local std::string lastRegistryError;

HRESULT Apply(const ServerRegistration& server, bool add) {
    const RegistryKeys entries = RegistrationKeys(server);
    std::string error;
    bool ok = ChangeRegistry(
        [&](RegistryKeys& keys) {
            for (const auto& [path, values] : entries) {
                // Key paths match ignoring case, as the registry's do.
                for (auto it = keys.begin(); it != keys.end();) {
                    it = fileio::SameIgnoringCase(it->first, path) ? keys.erase(it) : std::next(it);
                }
                if (add)
                    keys[path] = values;
            }
        },
        error);
    lastRegistryError = ok ? "" : error;
    return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

std::string RegistryPath() {
    return fileio::ConfigFilePath("KCOM_REGISTRY", "kcom/registry.ini");
}

bool TryReadRegistry(RegistryKeys& keys, std::string& error) {
    RegistryFile file;
    if (!ReadRegistryFile(RegistryPath(), file, error))
        return false;
    keys = std::move(file.keys);
    return true;
}

RegistryKeys ReadRegistry() {
    RegistryKeys keys;
    std::string error;
    TryReadRegistry(keys, error);  // readers see no class in a registry they cannot read
    return keys;
}

bool ChangeRegistry(const std::function<void(RegistryKeys&)>& change, std::string& error) {
    std::string path;
    if (!fileio::PathToWrite(RegistryPath(), fileio::LinkUse::kWriteThrough, path, error))
        return false;
    // Nothing, not even the lock, is made beside a registry that is no file.
    if (struct stat info{}; ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        RegistryFile unused;
        ReadRegistryFile(path, unused, error);  // says what the file is instead
        return false;
    }
    std::string ignored;  // a missing folder shows as the lock's failure
    fileio::MakeFolders(std::filesystem::path(path).parent_path().string(), ignored);
    // One writer at a time: another registration must not be lost. The lock
    // sits beside the file itself, so a link to it locks the same file.
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        if (lock >= 0)
            close(lock);
        error = "cannot lock " + path;
        return false;
    }
    RegistryFile file;
    bool ok = ReadRegistryFile(path, file, error);
    if (ok) {
        RegistryKeys keys = file.keys;
        change(keys);
        ok = fileio::WriteFileAtomically(path, RegistryWriter(keys).Write(file.lines), error,
                                         fileio::LinkUse::kReplaceLink);
    }
    close(lock);
    return ok;
}

std::string LastRegistryError() {
    return lastRegistryError;
}

std::string DefaultValue(const RegistryKeys& keys, const std::string& path) {
    for (const auto& [name, values] : keys) {
        if (fileio::SameIgnoringCase(name, path)) {
            auto value = values.find("@");
            return value == values.end() ? "" : value->second;
        }
    }
    return "";
}

RegistryKeys RegistrationKeys(const ServerRegistration& s) {
    const std::string clsid = "CLSID\\" + ToString(s.clsid);
    const std::string typeLib = ToString(s.typeLibrary);
    const std::string library = "TypeLib\\" + typeLib + "\\" + s.typeLibraryVersion;
    char locale[16];
    std::snprintf(locale, sizeof locale, "%x", s.locale);
    const std::string interface = "Interface\\" + ToString(s.interfaceId);
    const std::string folder = std::filesystem::path(s.libraryPath).parent_path().string();
    return {
        {s.progId, {{"@", s.progId}}},
        {s.progId + "\\Clsid", {{"@", ToString(s.clsid)}}},
        {clsid, {{"@", s.progId}}},
        {clsid + "\\InprocServer32", {{"@", s.libraryPath}, {"ThreadingModel", s.threadingModel}}},
        {clsid + "\\ProgID", {{"@", s.progId}}},
        {clsid + "\\TypeLib", {{"@", typeLib}}},
        {clsid + "\\VERSION", {{"@", s.typeLibraryVersion}}},
        {library, {{"@", s.typeLibraryName}}},
        {library + "\\" + locale + "\\linux64", {{"@", s.libraryPath}}},
        {library + "\\FLAGS", {{"@", "0"}}},
        {library + "\\HELPDIR", {{"@", folder}}},
        {interface, {{"@", s.interfaceName}}},
        {interface + "\\ProxyStubClsid32", {{"@", kDispatchProxy}}},
        {interface + "\\TypeLib", {{"@", typeLib}, {"Version", s.typeLibraryVersion}}},
    };
}

HRESULT RegisterServer(const ServerRegistration& server) {
    return Apply(server, true);
}

HRESULT UnregisterServer(const ServerRegistration& server) {
    return Apply(server, false);
}

}  // namespace kcom
