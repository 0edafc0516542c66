#include "RpcWire.h"

namespace kr470::rpc {
namespace {

constexpr uint32_t kCall = 0;
constexpr uint32_t kReply = 1;
constexpr uint32_t kMessageAccepted = 0;
constexpr uint32_t kRpcVersion = 2;
constexpr size_t kLongestAuthBody = 400;
constexpr uint32_t kLastFragment = 0x80000000u;

size_t Padding(size_t length) {
    return (4 - length % 4) % 4;
}

uint32_t BigEndian(std::string_view four) {
    uint32_t value = 0;
    for (char c : four)
        value = value << 8 | static_cast<unsigned char>(c);
    return value;
}

}  // namespace

void XdrWriter::U32(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out_.push_back(static_cast<char>(value >> shift & 0xff));
}

void XdrWriter::Opaque(std::string_view bytes) {
    U32(static_cast<uint32_t>(bytes.size()));
    out_.append(bytes);
    out_.append(Padding(bytes.size()), '\0');
}

bool XdrReader::U32(uint32_t& value) {
    if (in_.size() < 4)
        return false;
    value = BigEndian(in_.substr(0, 4));
    in_.remove_prefix(4);
    return true;
}

bool XdrReader::I32(int32_t& value) {
    uint32_t raw = 0;
    if (!U32(raw))
        return false;
    value = static_cast<int32_t>(raw);
    return true;
}

bool XdrReader::Opaque(std::string& bytes, size_t limit) {
    uint32_t length = 0;
    if (!U32(length) || length > limit)
        return false;
    const size_t padded = length + Padding(length);
    if (in_.size() < padded)
        return false;
    bytes.assign(in_.substr(0, length));
    in_.remove_prefix(padded);
    return true;
}

std::string MarkRecord(std::string_view record) {
    XdrWriter header;
    header.U32(kLastFragment | static_cast<uint32_t>(record.size()));
    return header.Bytes() + std::string(record);
}

RecordReader::State RecordReader::Next(std::string& record) {
    for (;;) {
        if (pending_.size() < 4)
            return State::kNeedMore;
        const uint32_t mark = BigEndian(std::string_view(pending_).substr(0, 4));
        const size_t length = mark & ~kLastFragment;
        if (partial_.size() + length > limit_)
            return State::kTooLarge;
        if (pending_.size() < 4 + length)
            return State::kNeedMore;
        partial_.append(pending_, 4, length);
        pending_.erase(0, 4 + length);
        if (mark & kLastFragment) {
            record = std::move(partial_);
            partial_.clear();
            return State::kRecord;
        }
    }
}

bool ReadCallHeader(XdrReader& reader, CallHeader& header) {
    uint32_t type = 0, version = 0, flavor = 0;
    std::string body;
    if (!reader.U32(header.xid) || !reader.U32(type) || type != kCall || !reader.U32(version) ||
        version != kRpcVersion || !reader.U32(header.program) || !reader.U32(header.version) ||
        !reader.U32(header.procedure))
        return false;
    // Credentials, then verifier: a flavour and an opaque body each.
    for (int i = 0; i < 2; ++i) {
        if (!reader.U32(flavor) || !reader.Opaque(body, kLongestAuthBody))
            return false;
    }
    return true;
}

std::string AcceptedReply(uint32_t xid, uint32_t acceptStatus, std::string_view results) {
    XdrWriter reply;
    reply.U32(xid);
    reply.U32(kReply);
    reply.U32(kMessageAccepted);
    reply.U32(0);  // null verifier: flavour AUTH_NONE, empty body
    reply.U32(0);
    reply.U32(acceptStatus);
    return reply.Bytes() + std::string(results);
}

}  // namespace kr470::rpc
