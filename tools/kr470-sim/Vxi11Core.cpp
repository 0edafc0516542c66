#include "Vxi11Core.h"

#include <algorithm>
#include <cctype>

#include "RpcWire.h"
#include "Vxi11Numbers.h"

namespace kr470 {
namespace {

using vxi11::kCreateLink;
using vxi11::kDestroyLink;
using vxi11::kDeviceNotAccessible;
using vxi11::kDeviceRead;
using vxi11::kDeviceWrite;
using vxi11::kFlagEnd;
using vxi11::kInvalidLink;
using vxi11::kIoTimeout;
using vxi11::kNoError;
using vxi11::kReasonEnd;
using vxi11::kReasonRequestCount;

// Far above any real device name; a longer one is refused as garbage.
constexpr size_t kLongestDeviceName = 256;

std::string Results(std::initializer_list<int32_t> values, std::string_view data = {},
                    bool withData = false) {
    rpc::XdrWriter out;
    for (int32_t value : values)
        out.I32(value);
    if (withData)
        out.Opaque(data);
    return out.Bytes();
}

std::string UpperHead(const std::string& line) {
    std::string head = line.substr(0, line.find(' '));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return head;
}

}  // namespace

Vxi11Core::Vxi11Core(const Vxi11Options& options, LineHandler handler)
    : options_(options), handler_(std::move(handler)) {}

Vxi11Core::Answer Vxi11Core::Handle(std::string_view call) {
    rpc::XdrReader reader(call);
    rpc::CallHeader header;
    if (!rpc::ReadCallHeader(reader, header))
        return {};
    if (header.program != kVxi11CoreProgram || header.version != kVxi11CoreVersion)
        return {rpc::AcceptedReply(header.xid, rpc::kProgramUnavailable)};
    std::string_view arguments = call.substr(call.size() - reader.Remaining());
    switch (header.procedure) {
        case kCreateLink:
            return CreateLink(header.xid, arguments);
        case kDeviceWrite:
            return Write(header.xid, arguments);
        case kDeviceRead:
            return Read(header.xid, arguments);
        case kDestroyLink:
            return DestroyLink(header.xid, arguments);
        default:
            return {rpc::AcceptedReply(header.xid, rpc::kProcedureUnavailable)};
    }
}

Vxi11Core::Answer Vxi11Core::CreateLink(uint32_t xid, std::string_view arguments) {
    rpc::XdrReader reader(arguments);
    int32_t clientId = 0;
    uint32_t lockDevice = 0, lockTimeout = 0;
    std::string device;
    if (!reader.I32(clientId) || !reader.U32(lockDevice) || !reader.U32(lockTimeout) ||
        !reader.Opaque(device, kLongestDeviceName))
        return {rpc::AcceptedReply(xid, rpc::kGarbageArguments)};
    if (device != options_.device)
        return {
            rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({kDeviceNotAccessible, 0, 0, 0}))};
    const int32_t link = nextLink_++;
    links_.insert(link);
    if (onNewLink_)
        onNewLink_();
    const auto maxRecv = static_cast<int32_t>(options_.maxRecvSize);
    return {rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({kNoError, link, 0, maxRecv}))};
}

Vxi11Core::Answer Vxi11Core::Write(uint32_t xid, std::string_view arguments) {
    rpc::XdrReader reader(arguments);
    int32_t link = 0, flags = 0;
    uint32_t ioTimeout = 0, lockTimeout = 0;
    std::string data;
    if (!reader.I32(link) || !reader.U32(ioTimeout) || !reader.U32(lockTimeout) ||
        !reader.I32(flags) || !reader.Opaque(data, options_.maxRecvSize))
        return {rpc::AcceptedReply(xid, rpc::kGarbageArguments)};
    if (!links_.contains(link))
        return {rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({kInvalidLink, 0}))};
    input_.Append(data);
    if ((flags & kFlagEnd) != 0)
        input_.EndMessage();
    Answer answer;
    FeedLines(answer);
    if (answer.hangUp)
        return answer;
    const auto taken = static_cast<int32_t>(data.size());
    answer.reply = rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({kNoError, taken}));
    return answer;
}

void Vxi11Core::FeedLines(Answer& answer) {
    std::string line;
    while (input_.Next(line)) {
        Response response = handler_(line);
        if (response.hangUp) {
            answer.hangUp = true;
            return;
        }
        if (response.reply && output_.size() < kMostUnreadReplies)
            output_.push_back(*response.reply + (options_.lineFeed ? "\n" : ""));
        if (Mutes(line)) {
            answer.mute = true;
            return;
        }
    }
}

bool Vxi11Core::Mutes(const std::string& line) {
    const std::string head = UpperHead(line);
    const int count = ++seen_[head];
    return std::any_of(options_.muteOn.begin(), options_.muteOn.end(), [&](const Trigger& t) {
        return UpperHead(t.head) == head && (t.occurrence == 0 || t.occurrence == count);
    });
}

Vxi11Core::Answer Vxi11Core::Read(uint32_t xid, std::string_view arguments) {
    rpc::XdrReader reader(arguments);
    int32_t link = 0, flags = 0, termChar = 0;
    uint32_t requestSize = 0, ioTimeout = 0, lockTimeout = 0;
    if (!reader.I32(link) || !reader.U32(requestSize) || !reader.U32(ioTimeout) ||
        !reader.U32(lockTimeout) || !reader.I32(flags) || !reader.I32(termChar))
        return {rpc::AcceptedReply(xid, rpc::kGarbageArguments)};
    if (!links_.contains(link))
        return {rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({kInvalidLink, 0}, {}, true))};
    if (output_.empty()) {
        // The instrument answers as it reads, so nothing more will come:
        // the read ends at its time-out, as a real one would.
        return {rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({kIoTimeout, 0}, {}, true)),
                ioTimeout};
    }
    // One message at a time, END with its last byte.
    std::string& message = output_.front();
    const size_t size = std::min<size_t>(requestSize, message.size());
    const std::string data = message.substr(0, size);
    message.erase(0, size);
    int32_t reason = kReasonRequestCount;
    if (message.empty()) {
        output_.pop_front();
        reason = kReasonEnd;
    }
    return {rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({kNoError, reason}, data, true))};
}

Vxi11Core::Answer Vxi11Core::DestroyLink(uint32_t xid, std::string_view arguments) {
    rpc::XdrReader reader(arguments);
    int32_t link = 0;
    if (!reader.I32(link))
        return {rpc::AcceptedReply(xid, rpc::kGarbageArguments)};
    const int32_t error = links_.erase(link) == 1 ? kNoError : kInvalidLink;
    return {rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Results({error}))};
}

}  // namespace kr470
