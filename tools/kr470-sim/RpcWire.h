// ONC RPC on the wire, by hand: XDR encoding, TCP record marking, call
// headers and accepted replies. Enough for the simulator's servers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kr470::rpc {

// Big-endian 4-byte units; variable-length opaque data padded to 4 bytes.
class XdrWriter {
  public:
    void U32(uint32_t value);
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
    void Opaque(std::string_view bytes);
    const std::string& Bytes() const { return out_; }

  private:
    std::string out_;
};

// Reads XDR from a record; every read checks what is left first.
class XdrReader {
  public:
    explicit XdrReader(std::string_view in) : in_(in) {}
    bool U32(uint32_t& value);
    bool I32(int32_t& value);
    // Variable-length opaque data (or a string) of at most `limit` bytes.
    bool Opaque(std::string& bytes, size_t limit);
    size_t Remaining() const { return in_.size(); }

  private:
    std::string_view in_;
};

// One record as a single last fragment.
std::string MarkRecord(std::string_view record);

// Gathers bytes from a stream into whole records, fragments joined.
class RecordReader {
  public:
    explicit RecordReader(size_t limit) : limit_(limit) {}
    void Feed(std::string_view bytes) { pending_.append(bytes); }
    enum class State { kNeedMore, kRecord, kTooLarge };
    // kRecord with the next whole record in `record`; kTooLarge when a record
    // grows past the limit (the stream is then beyond use).
    State Next(std::string& record);

  private:
    size_t limit_;
    std::string pending_;  // bytes not yet taken into a record
    std::string partial_;  // fragments of the record under way
};

inline constexpr uint32_t kAcceptSuccess = 0;
inline constexpr uint32_t kProgramUnavailable = 1;
inline constexpr uint32_t kProcedureUnavailable = 3;
inline constexpr uint32_t kGarbageArguments = 4;

struct CallHeader {
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
};

// Reads a call's header (RPC version 2, credentials skipped), leaving `reader`
// at the arguments. False when the record is no such call.
bool ReadCallHeader(XdrReader& reader, CallHeader& header);

// An accepted reply with a null verifier; `results` already encoded.
std::string AcceptedReply(uint32_t xid, uint32_t acceptStatus, std::string_view results = {});

}  // namespace kr470::rpc
