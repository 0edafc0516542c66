#include <kio/Session.h>

#include "InstrumentIO.h"

#include "RuntimeError.h"

namespace kestrel {
namespace {

// The I/O library's error numbers, as the plug-in reports them.
constexpr int kIoErrorNumber = 440;

void Check(const kio::Result& result) {
    if (result.status == kio::Status::kTimeout)
        throw ReplyTimeout(kIoErrorNumber, result.message);
    if (!result.ok())
        throw RuntimeError(kIoErrorNumber, result.message);
}

class SessionIO final : public InstrumentIO {
  public:
    explicit SessionIO(std::unique_ptr<kio::Session> session) : session_(std::move(session)) {}

    std::string GetAddress() override { return session_->Address(); }
    void ReadReply(std::string& reply, const std::string&) override {
        Check(session_->ReadLine(reply));
    }
    void ReadReply(std::vector<std::string>& fields, const std::string&) override {
        std::string reply;
        Check(session_->ReadLine(reply));
        fields.clear();
        size_t start = 0;
        for (;;) {
            size_t comma = reply.find(',', start);
            fields.push_back(
                reply.substr(start, comma == std::string::npos ? comma : comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    std::string GetInterfaceKind() override { return session_->InterfaceKind(); }
    void SendCommand(const std::string& command) override { Check(session_->Write(command)); }
    std::string SendQuery(const std::string& query) override {
        std::string reply;
        Check(session_->Query(query, reply));
        return reply;
    }
    void SetTimeout(int32_t milliseconds) override {
        session_->SetTimeout(milliseconds < 0 ? 0u : static_cast<uint32_t>(milliseconds));
    }
    void Interrupt() override { session_->Interrupt(); }

  private:
    std::unique_ptr<kio::Session> session_;
};

class SessionFactory final : public IOFactory {
  public:
    std::unique_ptr<InstrumentIO> OpenInstrument(const std::string& address) override {
        return OpenInstrumentWithin(address, kio::Session::kConnectTimeoutMs);
    }
    std::unique_ptr<InstrumentIO> OpenInstrumentWithin(const std::string& address,
                                                       int32_t timeoutMs) override {
        kio::Result result;
        std::unique_ptr<kio::Session> session =
            kio::Session::Open(address, result, timeoutMs < 0 ? 0u : uint32_t(timeoutMs));
        Check(result);
        return std::make_unique<SessionIO>(std::move(session));
    }
};

}  // namespace

std::unique_ptr<IOFactory> CreateIOFactory() {
    return std::make_unique<SessionFactory>();
}

}  // namespace kestrel
