// The arguments and results of the VXI-11 core channel's calls that the
// library makes (create_link, device_write, device_read, destroy_link), in
// XDR. Decoding checks every length against what is left and what was asked:
// a device_read's data goes straight into the caller's room or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kio::vxi11 {

std::string CreateLinkArguments(int32_t clientId, std::string_view device);
struct LinkReply {
    int32_t error = 0;
    int32_t link = 0;
    uint32_t abortPort = 0;
    uint32_t maxRecvSize = 0;
};
bool ReadLinkReply(std::string_view results, LinkReply& reply);

std::string WriteArguments(int32_t link, uint32_t ioTimeoutMs, bool end,
                           std::span<const char> data);
struct WriteReply {
    int32_t error = 0;
    uint32_t size = 0;
};
bool ReadWriteReply(std::string_view results, WriteReply& reply);

std::string ReadArguments(int32_t link, uint32_t requestSize, uint32_t ioTimeoutMs);
struct ReadReply {
    int32_t error = 0;
    int32_t reason = 0;
    uint32_t length = 0;  // as announced
};
enum class ReadDecode { kDone, kLongerThanAsked, kCutShort };
// The error and reason, then the data into `into` when it fits there
// (kLongerThanAsked with `reply.length` as announced when it does not).
// `results` may be only the start of a reply too large to read whole.
ReadDecode ReadReadReply(std::string_view results, std::span<char> into, ReadReply& reply);

std::string DestroyLinkArguments(int32_t link);
bool ReadErrorReply(std::string_view results, int32_t& error);

// The longest results of the calls above but device_read's data.
inline constexpr size_t kLongestFixedResults = 16;

}  // namespace kio::vxi11
