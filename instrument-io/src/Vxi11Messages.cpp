#include "Vxi11Messages.h"

#include <algorithm>

#include "RpcWire.h"
#include "Vxi11Numbers.h"

namespace kio::vxi11 {
namespace {

using kr470::rpc::XdrReader;
using kr470::rpc::XdrWriter;

constexpr uint32_t kNoLockWait = 0;

}  // namespace

std::string CreateLinkArguments(int32_t clientId, std::string_view device) {
    XdrWriter out;
    out.I32(clientId);
    out.U32(0);  // lockDevice: no
    out.U32(kNoLockWait);
    out.Opaque(device);
    return out.Bytes();
}

bool ReadLinkReply(std::string_view results, LinkReply& reply) {
    XdrReader in(results);
    return in.I32(reply.error) && in.I32(reply.link) && in.U32(reply.abortPort) &&
           in.U32(reply.maxRecvSize);
}

std::string WriteArguments(int32_t link, uint32_t ioTimeoutMs, bool end,
                           std::span<const char> data) {
    XdrWriter out;
    out.I32(link);
    out.U32(ioTimeoutMs);
    out.U32(kNoLockWait);
    out.I32(end ? kr470::vxi11::kFlagEnd : 0);
    out.Opaque(std::string_view(data.data(), data.size()));
    return out.Bytes();
}

bool ReadWriteReply(std::string_view results, WriteReply& reply) {
    XdrReader in(results);
    return in.I32(reply.error) && in.U32(reply.size);
}

std::string ReadArguments(int32_t link, uint32_t requestSize, uint32_t ioTimeoutMs) {
    XdrWriter out;
    out.I32(link);
    out.U32(requestSize);
    out.U32(ioTimeoutMs);
    out.U32(kNoLockWait);
    out.I32(0);  // flags: no termination character
    out.I32(0);  // termChar
    return out.Bytes();
}

ReadDecode ReadReadReply(std::string_view results, std::span<char> into, ReadReply& reply) {
    XdrReader in(results);
    if (!in.I32(reply.error) || !in.I32(reply.reason) || !in.U32(reply.length))
        return ReadDecode::kCutShort;
    if (reply.length > into.size())
        return ReadDecode::kLongerThanAsked;
    // The length again, now as opaque data's: its bytes and padding must be in.
    XdrReader data(results.substr(8));
    std::string_view bytes;
    if (!data.OpaqueView(bytes, into.size()))
        return ReadDecode::kCutShort;
    std::copy(bytes.begin(), bytes.end(), into.begin());
    return ReadDecode::kDone;
}

std::string DestroyLinkArguments(int32_t link) {
    XdrWriter out;
    out.I32(link);
    return out.Bytes();
}

bool ReadErrorReply(std::string_view results, int32_t& error) {
    return XdrReader(results).I32(error);
}

}  // namespace kio::vxi11
