// What the instrument-I/O library exports: its code is built with hidden
// symbols, and only the declarations marked KIO_API are seen by programs and
// libraries that load it. The library's export list (instrument_io.exports)
// further keeps every name outside kio:: to itself, the serial and file
// libraries linked into it included. On Windows the library is linked
// statically into the plug-in's DLL, which exports none of it: the mark is
// empty there.
#pragma once

#ifdef _WIN32
#define KIO_API
#else
#define KIO_API __attribute__((visibility("default")))
#endif
