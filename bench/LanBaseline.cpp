// The baseline of a plug-in update over an instrument-I/O address: the
// [Code] records of an update file written through the same session and
// transport with nothing in between, then "*OPC?" and its reply.
// Usage: bench-lan-baseline ADDRESS UPDATE_FILE
#include <cstdio>
#include <string>

#include <kio/Session.h>

#include "CodeRecords.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench-lan-baseline ADDRESS UPDATE_FILE\n");
        return 2;
    }
    kio::Result result;
    std::unique_ptr<kio::Session> session = kio::Session::Open(argv[1], result);
    if (!session) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 2;
    }
    session->SetTimeout(12000);
    for (const std::string& record : CodeRecords(argv[2])) {
        if (result = session->Write("dlo \"" + record + "\" "); !result.ok())
            break;
    }
    std::string reply;
    if (result.ok())
        result = session->Query("*OPC?", reply);
    if (!result.ok()) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    return 0;
}
