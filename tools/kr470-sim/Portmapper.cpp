#include "Portmapper.h"

#include "RpcWire.h"
#include "Vxi11Core.h"

namespace kr470 {

std::optional<std::string> AnswerPortmapperCall(std::string_view call, uint16_t corePort) {
    rpc::XdrReader reader(call);
    rpc::CallHeader header;
    if (!rpc::ReadCallHeader(reader, header))
        return std::nullopt;
    if (header.program != rpc::kPortmapperProgram || header.version != rpc::kPortmapperVersion)
        return rpc::AcceptedReply(header.xid, rpc::kProgramUnavailable);
    if (header.procedure == rpc::kPortmapperNull)
        return rpc::AcceptedReply(header.xid, rpc::kAcceptSuccess);
    if (header.procedure != rpc::kPortmapperGetPort)
        return rpc::AcceptedReply(header.xid, rpc::kProcedureUnavailable);
    uint32_t program = 0, version = 0, protocol = 0, unused = 0;
    if (!reader.U32(program) || !reader.U32(version) || !reader.U32(protocol) ||
        !reader.U32(unused))
        return rpc::AcceptedReply(header.xid, rpc::kGarbageArguments);
    const bool core = program == kVxi11CoreProgram && version == kVxi11CoreVersion &&
                      protocol == rpc::kProtocolTcp;
    rpc::XdrWriter port;
    port.U32(core ? corePort : 0);
    return rpc::AcceptedReply(header.xid, rpc::kAcceptSuccess, port.Bytes());
}

}  // namespace kr470
