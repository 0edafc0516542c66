// The plug-in's view of the instrument-I/O object and its factory. Whoever
// opens an InstrumentIO owns it; releasing it ends the connection. Every
// failure is thrown as a RuntimeError with the I/O layer's description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "RuntimeError.h"

namespace kestrel {

// A reply that did not come within the time-out, while the connection still
// works: the same error to a procedure's handler, but a finder can tell an
// address where no one answers from a bus that is gone.
class ReplyTimeout : public RuntimeError {
  public:
    using RuntimeError::RuntimeError;
};

class InstrumentIO {
  public:
    virtual ~InstrumentIO() = default;
    virtual std::string GetAddress() = 0;
    // The reply to the preceding SendCommand: whole, or (format code "K") as
    // its comma-separated fields.
    virtual void ReadReply(std::string& reply, const std::string& format) = 0;
    virtual void ReadReply(std::vector<std::string>& fields, const std::string& format) = 0;
    virtual std::string GetInterfaceKind() = 0;
    virtual void SendCommand(const std::string& command) = 0;
    virtual std::string SendQuery(const std::string& query) = 0;
    virtual void SetTimeout(int32_t milliseconds) = 0;
};

class IOFactory {
  public:
    virtual ~IOFactory() = default;
    virtual std::unique_ptr<InstrumentIO> OpenInstrument(const std::string& address) = 0;
    // The same with the opening itself (a name lookup and connect included)
    // bounded by `timeoutMs`; a factory without such a bound opens as above.
    virtual std::unique_ptr<InstrumentIO> OpenInstrumentWithin(const std::string& address,
                                                               int32_t timeoutMs) {
        (void)timeoutMs;
        return OpenInstrument(address);
    }
};

// The factory over the instrument-I/O library.
std::unique_ptr<IOFactory> CreateIOFactory();

}  // namespace kestrel
