#include "Portmapper.h"

#include "RpcWire.h"
#include "Vxi11Core.h"

namespace kr470 {
namespace {

constexpr uint32_t kPortmapperProgram = 100000;
constexpr uint32_t kPortmapperVersion = 2;
constexpr uint32_t kNullProcedure = 0;
constexpr uint32_t kGetPort = 3;
constexpr uint32_t kTcp = 6;

}  // namespace

std::optional<std::string> AnswerPortmapperCall(std::string_view call, uint16_t corePort) {
    rpc::XdrReader reader(call);
    rpc::CallHeader header;
    if (!rpc::ReadCallHeader(reader, header))
        return std::nullopt;
    if (header.program != kPortmapperProgram || header.version != kPortmapperVersion)
        return rpc::AcceptedReply(header.xid, rpc::kProgramUnavailable);
    if (header.procedure == kNullProcedure)
        return rpc::AcceptedReply(header.xid, rpc::kAcceptSuccess);
    if (header.procedure != kGetPort)
        return rpc::AcceptedReply(header.xid, rpc::kProcedureUnavailable);
    uint32_t program = 0, version = 0, protocol = 0, unused = 0;
    if (!reader.U32(program) || !reader.U32(version) || !reader.U32(protocol) ||
        !reader.U32(unused))
        return rpc::AcceptedReply(header.xid, rpc::kGarbageArguments);
    const bool core =
        program == kVxi11CoreProgram && version == kVxi11CoreVersion && protocol == kTcp;
    rpc::XdrWriter port;
    port.U32(core ? corePort : 0);
    return rpc::AcceptedReply(header.xid, rpc::kAcceptSuccess, port.Bytes());
}

}  // namespace kr470
