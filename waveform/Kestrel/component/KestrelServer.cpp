// The library's server entry points: class objects, unloading, registration
// in the per-user class registry, and the version block.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>

#include "CWaveform.h"
#include "ClassFactory.h"
#include "HostApplication.h"
#include "Registry.h"

namespace kestrel {
namespace {

// This library's own file, wherever the host loaded it from.
std::string OwnFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFile), &info) == 0 || info.dli_fname == nullptr)
        return "";
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
}

// What the registry records: the link named by the library's soname beside
// the file (libKestrel.so.1), which a package upgrade moves to the new file;
// the file itself only when no such link leads to it.
std::string RegisteredPath() {
    const std::string file = OwnFile();
    const size_t slash = file.find_last_of('/');
    if (file.empty() || slash == std::string::npos)
        return file;
    const std::string link = file.substr(0, slash + 1) + KESTREL_SONAME;
    char resolved[PATH_MAX];
    if (realpath(link.c_str(), resolved) == nullptr || file != resolved)
        return file;
    return link;
}

kcom::ServerRegistration Registration() {
    return {CLSID_CWaveform, "CWaveform",    kKestrelProgId, RegisteredPath(),
            "Apartment",     LIBID_Kestrel,  "Kestrel",      "1.0",
            0x409,           IID__CWaveform, "_CWaveform"};
}

const ComponentVersionBlock kVersionBlock = {
    {1, 0, 0, 10}, {1, 0, 0, 10}, 0x0409,     1200,           u"1.00.0010",
    u"1.00.0010",  u"Kestrel",    u"Kestrel", u"Kestrel.dll", u""};

}  // namespace
}  // namespace kestrel

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                 void** object) {
    return kestrel::GetClassObject(clsid, riid, object);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    const bool idle =
        kestrel::LiveObjects() == 0 && kestrel::ServerLocks() == 0 && !kestrel::OwnsApplication();
    return idle ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    kcom::ServerRegistration registration = kestrel::Registration();
    return registration.libraryPath.empty() ? SELFREG_E_CLASS : kcom::RegisterServer(registration);
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    return kcom::UnregisterServer(kestrel::Registration());
}

__attribute__((visibility("default"))) const ComponentVersionBlock* DllGetVersionBlock() {
    return &kestrel::kVersionBlock;
}

}  // extern "C"
