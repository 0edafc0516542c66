// What libkcom exports: its code is built with hidden symbols, and only the
// declarations marked KCOM_API are seen by hosts and servers. The library's
// export list (kcom.exports) further keeps every other name to itself, the
// file library linked into it included.
#pragma once

#define KCOM_API __attribute__((visibility("default")))
