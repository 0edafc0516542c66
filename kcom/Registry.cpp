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
#include "IniRewrite.h"
#include "TextRules.h"

namespace kcom {
namespace {

// IDispatch's marshaller, which dual interfaces name as their proxy.
constexpr const char* kDispatchProxy = "{00020424-0000-0000-C000-000000000046}";

// The registry file as read: its parsed keys and its text as it stands, so
// that a write keeps comments, blank lines and the order of entries.
struct RegistryFile {
    RegistryKeys keys;
    std::string text;
};

using fileio::IniLineKind;

// False, with `error`, for a line that is no header, value or comment, or a
// value before the first header: such a file is not changed.
bool Parse(const std::string& path, const std::string& text, RegistryFile& file,
           std::string& error) {
    if (text.find('\0') != std::string::npos) {
        error = path + " is not a text file";
        return false;
    }
    file.text = text;
    const std::vector<std::string_view> lines = fileio::IniLines(file.text);
    std::string section;
    for (size_t i = 0; i < lines.size(); ++i) {
        fileio::IniLine line = fileio::ParseIniLine(lines[i]);
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

// The file with the keys' new content: unchanged value lines stay as they
// were, changed ones are rewritten in place, removed values and removed
// sections go (their comments stay), comments and blank lines stay; new values
// follow their section's last value and new sections follow at the end.
class RegistryWriter {
  public:
    explicit RegistryWriter(const RegistryKeys& keys) : keys_(keys), current_(keys.end()) {}

    std::string Write(const std::string& text) {
        fileio::IniRewrite file(text);
        for (size_t i = 0; i < file.LineCount(); ++i) {
            const fileio::IniLine& line = file.Parsed(i);
            if (line.kind == IniLineKind::kSection)
                StartSection(file, i);
            else if (line.kind == IniLineKind::kValue)
                WriteValue(file, i);
            else if (removed_ && line.kind == IniLineKind::kBlank)
                file.Drop(i);
        }
        EndSection(file);
        for (const auto& [path, values] : keys_) {
            if (written_.contains(path))
                continue;
            file.AddAtEnd("[" + path + "]");
            for (const auto& [name, data] : values)
                file.AddAtEnd(name + " = " + data);
            file.AddAtEnd("");
        }
        return file.Text();
    }

  private:
    void StartSection(fileio::IniRewrite& file, size_t header) {
        EndSection(file);
        const std::string& name = file.Parsed(header).name;
        current_ = keys_.find(name);
        if (current_ == keys_.end() || !written_.insert(name).second) {
            current_ = keys_.end();  // removed, or a repeated header already merged
            file.Drop(header);
        }
        removed_ = current_ == keys_.end();
        lastValue_ = header;
        valuesWritten_.clear();
    }

    void WriteValue(fileio::IniRewrite& file, size_t index) {
        const fileio::IniLine& line = file.Parsed(index);
        if (current_ == keys_.end()) {
            file.Drop(index);
            return;
        }
        auto value = current_->second.find(line.name);
        if (value == current_->second.end() || !valuesWritten_.insert(line.name).second) {
            file.Drop(index);
            return;
        }
        if (value->second != line.value)
            file.Replace(index, line.name + " = " + value->second);
        lastValue_ = index;
    }

    void EndSection(fileio::IniRewrite& file) {
        if (current_ != keys_.end()) {
            for (const auto& [name, data] : current_->second) {
                if (!valuesWritten_.contains(name))
                    file.AddAfter(lastValue_, name + " = " + data);
            }
        }
        current_ = keys_.end();
    }

    const RegistryKeys& keys_;
    RegistryKeys::const_iterator current_;
    bool removed_ = false;  // the lines now read belong to a section that goes
    size_t lastValue_ = 0;  // the line new values of this section follow
    std::set<std::string> written_;
    std::set<std::string> valuesWritten_;
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
        ok = fileio::WriteFileAtomically(path, RegistryWriter(keys).Write(file.text), error,
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
