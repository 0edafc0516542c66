#include "RpcWire.h"

#include <algorithm>

namespace kr470::rpc {
namespace {

constexpr uint32_t kCall = 0;
constexpr uint32_t kReply = 1;
constexpr uint32_t kMessageAccepted = 0;
constexpr uint32_t kMessageDenied = 1;
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

// A flavour and an opaque body of at most 400 bytes.
bool SkipAuth(XdrReader& reader) {
    uint32_t flavor = 0;
    std::string_view body;
    return reader.U32(flavor) && reader.OpaqueView(body, kLongestAuthBody);
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

bool XdrReader::OpaqueView(std::string_view& bytes, size_t limit) {
    uint32_t length = 0;
    if (!U32(length) || length > limit)
        return false;
    const size_t padded = length + Padding(length);
    if (in_.size() < padded)
        return false;
    bytes = in_.substr(0, length);
    in_.remove_prefix(padded);
    return true;
}

bool XdrReader::Opaque(std::string& bytes, size_t limit) {
    std::string_view view;
    if (!OpaqueView(view, limit))
        return false;
    bytes.assign(view);
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
        if (partial_.size() + length > limit_) {
            tooLargeSize_ = partial_.size() + length;
            return State::kTooLarge;
        }
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

std::string RecordReader::TooLargeStart(size_t most) const {
    std::string start = partial_.substr(0, most);
    if (pending_.size() > 4 && start.size() < most)
        start.append(pending_, 4, most - start.size());
    return start;
}

bool ReadCallHeader(XdrReader& reader, CallHeader& header) {
    uint32_t type = 0, version = 0;
    if (!reader.U32(header.xid) || !reader.U32(type) || type != kCall || !reader.U32(version) ||
        version != kRpcVersion || !reader.U32(header.program) || !reader.U32(header.version) ||
        !reader.U32(header.procedure))
        return false;
    // Credentials, then verifier.
    return SkipAuth(reader) && SkipAuth(reader);
}

std::string CallRecord(const CallHeader& header, std::string_view arguments) {
    XdrWriter call;
    for (uint32_t word :
         {header.xid, kCall, kRpcVersion, header.program, header.version, header.procedure})
        call.U32(word);
    for (int i = 0; i < 2; ++i) {  // null credentials, then a null verifier
        call.U32(0);
        call.U32(0);
    }
    return call.Bytes() + std::string(arguments);
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

bool ReadReplyHeader(XdrReader& reader, ReplyHeader& header) {
    uint32_t type = 0, status = 0;
    if (!reader.U32(header.xid) || !reader.U32(type) || type != kReply || !reader.U32(status))
        return false;
    if (status == kMessageDenied) {
        header.accepted = false;
        if (!reader.U32(header.rejectStatus))
            return false;
        if (header.rejectStatus == kRpcMismatch)
            return reader.U32(header.low) && reader.U32(header.high);
        return reader.U32(header.authStatus);
    }
    if (status != kMessageAccepted)
        return false;
    header.accepted = true;
    if (!SkipAuth(reader) || !reader.U32(header.acceptStatus))
        return false;
    if (header.acceptStatus == kProgramMismatch)
        return reader.U32(header.low) && reader.U32(header.high);
    return true;
}

}  // namespace kr470::rpc
