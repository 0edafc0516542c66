#include <fcntl.h>
#include <sys/stat.h>

#include "ReadOpen.h"

namespace fileio {

int OpenForReading(const char* path) {
    return ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool IsSocket(mode_t mode) {
    return S_ISSOCK(mode);
}

}  // namespace fileio
