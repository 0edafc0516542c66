#include "DisplayProbe.h"

#include <dlfcn.h>

#include <cstdlib>

namespace kestrel {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Connects to the X server the way Qt's X platform will: through the X client
// library, which finds the socket (local or TCP) and does the authorisation
// handshake. A server that is gone, a stale socket or a refused login all show
// up as a connection with an error. The library is loaded only for this, so
// the plug-in does not depend on X when the host names another platform.
bool XServerAccepts(const char* display) {
    struct Connection;
    using Connect = Connection* (*)(const char*, int*);
    using HasError = int (*)(Connection*);
    using Disconnect = void (*)(Connection*);

    void* library = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return false;  // Qt's X platform could not load either
    auto connect = reinterpret_cast<Connect>(dlsym(library, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(library, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(library, "xcb_disconnect"));
    bool accepted = false;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        Connection* connection = connect(display, nullptr);
        accepted = connection != nullptr && hasError(connection) == 0;
        disconnect(connection);  // also frees a connection that failed
    }
    dlclose(library);
    return accepted;
}

}  // namespace

bool DisplayAvailable() {
    if (IsSet("QT_QPA_PLATFORM") || IsSet("WAYLAND_DISPLAY"))
        return true;
    if (!IsSet("DISPLAY"))
        return false;
    return XServerAccepts(std::getenv("DISPLAY"));
}

}  // namespace kestrel
