#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "ReadOpen.h"

namespace fileio {

// Binary: the C library's text mode would turn CR LF into LF and stop at a
// Ctrl-Z, so the reader would see other bytes than the file holds.
int OpenForReading(const char* path) {
    return ::_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool IsSocket(mode_t mode) {
    (void)mode;
    return false;
}

}  // namespace fileio
