// The VXI-11 core channel as a transport: each write is one device_write
// (split at the server's maxRecvSize, END on the last piece), each read one
// device_read bounded by the session's wait.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "RpcClient.h"
#include "Vxi11.h"
#include "vxi11_core.h"

namespace kio {
namespace {

// The RPC reply may come this much later than the device's own time-out.
constexpr uint32_t kCallMarginMs = 1000;
// The RPC library keeps its wait in an int of milliseconds.
constexpr uint32_t kLongestCallMs = INT32_MAX;
// destroy_link on close waits no longer than this for a server gone quiet.
constexpr uint32_t kUnlinkWaitMs = 1000;
constexpr long kFlagEnd = 8;
constexpr long kErrorIoTimeout = 15;
constexpr long kReasonEnd = 4;
// Used when the server announces a maxRecvSize of 0, which it must not.
constexpr uint32_t kSmallestRecvSize = 1024;

struct ErrorName {
    long code;
    const char* name;
};
// The error codes of the core channel's replies.
constexpr std::array kErrorNames = {
    ErrorName{1, "syntax error"},
    ErrorName{3, "device not accessible"},
    ErrorName{4, "invalid link identifier"},
    ErrorName{5, "parameter error"},
    ErrorName{6, "channel not established"},
    ErrorName{8, "operation not supported"},
    ErrorName{9, "out of resources"},
    ErrorName{11, "device locked by another link"},
    ErrorName{12, "no lock held by this link"},
    ErrorName{15, "I/O timeout"},
    ErrorName{17, "I/O error"},
    ErrorName{21, "invalid address"},
    ErrorName{23, "abort"},
    ErrorName{29, "channel already established"},
};

std::string ErrorText(const std::string& call, long code) {
    auto known = std::find_if(kErrorNames.begin(), kErrorNames.end(),
                              [code](const ErrorName& e) { return e.code == code; });
    const char* name = known == kErrorNames.end() ? "unknown error" : known->name;
    return call + " failed with VXI-11 error " + std::to_string(code) + " (" + name + ")";
}

uint32_t CallWaitMs(uint32_t deviceTimeoutMs) {
    if (deviceTimeoutMs >= kLongestCallMs - kCallMarginMs)
        return kLongestCallMs;
    return deviceTimeoutMs + kCallMarginMs;
}

template <typename T>
xdrproc_t Xdr(bool_t (*routine)(XDR*, T*)) {
    return reinterpret_cast<xdrproc_t>(routine);
}

// Frees what the XDR routines allocated in a decoded reply.
template <typename T>
class Decoded {
  public:
    explicit Decoded(bool_t (*routine)(XDR*, T*)) : routine_(routine) {}
    ~Decoded() { xdr_free(Xdr(routine_), reinterpret_cast<char*>(&value)); }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    T value{};

  private:
    bool_t (*routine_)(XDR*, T*);
};

// A device_read reply decoded straight into the caller's buffer. The length
// the server announces is compared with the room before a byte of data is
// taken, so a reply announcing gigabytes costs nothing: the decode fails.
// (The generated routine would allocate whatever length is announced.)
struct BoundedReadReply {
    std::span<char> into;
    Device_ErrorCode error = 0;
    long reason = 0;
    u_int length = 0;  // as announced
};

bool_t DecodeBoundedReadReply(XDR* xdrs, BoundedReadReply* reply) {
    if (!xdr_Device_ErrorCode(xdrs, &reply->error) || !xdr_long(xdrs, &reply->reason) ||
        !xdr_u_int(xdrs, &reply->length))
        return FALSE;
    if (reply->length > reply->into.size())
        return FALSE;
    return xdr_opaque(xdrs, reply->into.data(), reply->length);
}

class Vxi11Transport : public Transport {
  public:
    Vxi11Transport(std::unique_ptr<RpcClient> rpc, std::string where, Device_Link link,
                   uint32_t maxRecvSize)
        : rpc_(std::move(rpc)),
          where_(std::move(where)),
          link_(link),
          maxRecvSize_(maxRecvSize == 0 ? kSmallestRecvSize : maxRecvSize) {}

    ~Vxi11Transport() override {
        if (broken_)
            return;
        Decoded<Device_Error> reply(xdr_Device_Error);
        std::string ignored;
        rpc_->Call(destroy_link, Xdr(xdr_Device_Link), &link_, Xdr(xdr_Device_Error), &reply.value,
                   kUnlinkWaitMs, ignored);
    }

    bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) override {
        do {
            const size_t piece = std::min<size_t>(bytes.size(), maxRecvSize_);
            const bool last = piece == bytes.size();
            size_t taken = 0;
            if (!WritePiece(bytes.first(piece), last, timeoutMs, taken))
                return false;
            bytes = bytes.subspan(taken);
        } while (!bytes.empty());
        return true;
    }

    // A message that ends (END) without a line feed, as some instruments send
    // them, still ends the reply line: the session reads lines, so one is added.
    long ReadSome(std::span<char> into, uint32_t waitMs) override {
        if (broken_)
            return -1;
        if (into.size() < 2)
            return Fail("device_read needs room for a byte and a line feed");
        const size_t room = into.size() - 1;  // keeps a place for that line feed
        Device_ReadParms request{};
        request.lid = link_;
        request.requestSize = static_cast<u_long>(room);
        request.io_timeout = waitMs;
        BoundedReadReply reply{into.first(room)};
        if (!Call(device_read, Xdr(xdr_Device_ReadParms), &request, Xdr(DecodeBoundedReadReply),
                  &reply, waitMs)) {
            if (reply.length > room)
                failure_ = where_ + ": device_read returned " + std::to_string(reply.length) +
                           " bytes for " + std::to_string(room) + " asked";
            return -1;
        }
        const bool timedOut = reply.error == kErrorIoTimeout;
        if (reply.error != 0 && !timedOut)
            return Fail(ErrorText("device_read", reply.error));
        size_t got = reply.length;
        if (timedOut)
            return static_cast<long>(got);  // what came within the wait: the session decides
        const bool ended = (reply.reason & kReasonEnd) != 0;
        if (ended && (got == 0 || into[got - 1] != '\n'))
            into[got++] = '\n';
        return static_cast<long>(got);
    }

    std::string Problem() const override { return failure_; }

    void Interrupt() override { rpc_->Interrupt(); }

  private:
    bool WritePiece(std::span<const char> piece, bool last, uint32_t timeoutMs, size_t& taken) {
        if (broken_)
            return false;
        Device_WriteParms request{};
        request.lid = link_;
        request.io_timeout = timeoutMs;
        request.flags = last ? kFlagEnd : 0;
        request.data.data_len = static_cast<u_int>(piece.size());
        request.data.data_val = const_cast<char*>(piece.data());
        Decoded<Device_WriteResp> reply(xdr_Device_WriteResp);
        if (!Call(device_write, Xdr(xdr_Device_WriteParms), &request, Xdr(xdr_Device_WriteResp),
                  &reply.value, timeoutMs))
            return false;
        if (reply.value.error != 0) {
            failure_ = ErrorText("device_write", reply.value.error);
            return false;
        }
        if (reply.value.size > piece.size() || (reply.value.size == 0 && !piece.empty())) {
            failure_ = "device_write took " + std::to_string(reply.value.size) + " of " +
                       std::to_string(piece.size()) + " bytes";
            return false;
        }
        taken = reply.value.size;
        return true;
    }

    // A call that fails at the RPC level leaves the link unusable: a late
    // reply or a half-sent record would confuse every later call.
    bool Call(uint32_t procedure, xdrproc_t encode, const void* arguments, xdrproc_t decode,
              void* results, uint32_t deviceTimeoutMs) {
        std::string why;
        if (rpc_->Call(procedure, encode, arguments, decode, results, CallWaitMs(deviceTimeoutMs),
                       why))
            return true;
        broken_ = true;
        failure_ = where_ + ": " + why;
        return false;
    }

    long Fail(std::string why) {
        failure_ = std::move(why);
        return -1;
    }

    std::unique_ptr<RpcClient> rpc_;
    std::string where_;
    Device_Link link_;
    uint32_t maxRecvSize_;
    bool broken_ = false;
    std::string failure_;
};

}  // namespace

std::unique_ptr<Transport> OpenVxi11(const std::string& host, const std::string& port,
                                     const std::string& device, uint32_t timeoutMs,
                                     std::string& why) {
    const std::string where = host + ":" + port;
    std::unique_ptr<RpcClient> rpc =
        RpcClient::Connect(host, port, DEVICE_CORE, DEVICE_CORE_VERSION, timeoutMs, why);
    if (!rpc)
        return nullptr;
    Create_LinkParms request{};
    request.clientId = static_cast<long>(getpid());
    request.device = const_cast<char*>(device.c_str());
    Decoded<Create_LinkResp> reply(xdr_Create_LinkResp);
    if (!rpc->Call(create_link, Xdr(xdr_Create_LinkParms), &request, Xdr(xdr_Create_LinkResp),
                   &reply.value, timeoutMs, why)) {
        why = where + ": create_link: " + why;
        return nullptr;
    }
    if (reply.value.error != 0) {
        why = where + ": " + ErrorText("create_link \"" + device + "\"", reply.value.error);
        return nullptr;
    }
    return std::make_unique<Vxi11Transport>(std::move(rpc), where, reply.value.lid,
                                            static_cast<uint32_t>(reply.value.maxRecvSize));
}

}  // namespace kio
