#include "Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kcom {
namespace {

// IDispatch's marshaller, which dual interfaces name as their proxy.
constexpr const char* kDispatchProxy = "{00020424-0000-0000-C000-000000000046}";

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

RegistryKeys Parse(std::istream& in) {
    RegistryKeys keys;
    std::string section;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            keys[section];
            continue;
        }
        size_t equals = line.find('=');
        if (equals != std::string::npos && !section.empty())
            keys[section][Trim(line.substr(0, equals))] = Trim(line.substr(equals + 1));
    }
    return keys;
}

std::string Format(const RegistryKeys& keys) {
    std::ostringstream out;
    for (const auto& [path, values] : keys) {
        out << '[' << path << "]\n";
        for (const auto& [name, data] : values)
            out << name << " = " << data << '\n';
        out << '\n';
    }
    return out.str();
}

// Writes beside the file and renames over it, so a reader never sees half a file.
bool WriteWhole(const std::string& path, const std::string& text, std::string& error) {
    const std::string temporary = path + ".new." + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + temporary;
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    bool ok = written == text.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = "cannot write " + path;
        return false;
    }
    return true;
}

HRESULT Apply(const ServerRegistration& server, bool add) {
    const RegistryKeys entries = RegistrationKeys(server);
    std::string error;
    bool ok = ChangeRegistry(
        [&](RegistryKeys& keys) {
            for (const auto& [path, values] : entries) {
                // Key paths match ignoring case, as the registry's do.
                for (auto it = keys.begin(); it != keys.end();) {
                    it = Upper(it->first) == Upper(path) ? keys.erase(it) : std::next(it);
                }
                if (add)
                    keys[path] = values;
            }
        },
        error);
    return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

std::string RegistryPath() {
    if (const char* named = std::getenv("KCOM_REGISTRY"); named != nullptr && *named != '\0')
        return named;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0')
        return std::string(config) + "/kcom/registry.ini";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/kcom/registry.ini";
}

RegistryKeys ReadRegistry() {
    std::ifstream in(RegistryPath());
    return Parse(in);
}

bool ChangeRegistry(const std::function<void(RegistryKeys&)>& change, std::string& error) {
    const std::string path = RegistryPath();
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    // One writer at a time: another registration must not be lost.
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        if (lock >= 0)
            close(lock);
        error = "cannot lock " + path;
        return false;
    }
    RegistryKeys keys = ReadRegistry();
    change(keys);
    bool ok = WriteWhole(path, Format(keys), error);
    close(lock);
    return ok;
}

std::string DefaultValue(const RegistryKeys& keys, const std::string& path) {
    for (const auto& [name, values] : keys) {
        if (Upper(name) == Upper(path)) {
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
