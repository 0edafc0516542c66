// ONC RPC on the wire, by hand: XDR encoding, TCP record marking, call and
// reply headers. Both ends use it: the simulator's servers and the
// instrument-I/O library's client, on Linux and Windows alike. No sockets
// here: bytes in, bytes out; every read checks what is left first, and a
// record is never gathered past the limit its reader was given.
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
    // The length of variable-length opaque data, then its bytes (at most
    // `limit`) left in place: `bytes` views them within the record.
    bool OpaqueView(std::string_view& bytes, size_t limit);
    size_t Remaining() const { return in_.size(); }
    std::string_view Rest() const { return in_; }

  private:
    std::string_view in_;
};

// One record as a single last fragment.
std::string MarkRecord(std::string_view record);

// Gathers bytes from a stream into whole records, fragments joined. Each
// fragment's length is checked against the limit as soon as its header is
// in, before any of its bytes are kept: a fragment announcing gigabytes
// costs nothing.
class RecordReader {
  public:
    explicit RecordReader(size_t limit) : limit_(limit) {}
    void Feed(std::string_view bytes) { pending_.append(bytes); }
    // For a stream whose records differ in what they may hold (a client's
    // replies): the limit of the records from here on.
    void SetLimit(size_t limit) { limit_ = limit; }
    enum class State { kNeedMore, kRecord, kTooLarge };
    // kRecord with the next whole record in `record`; kTooLarge when a record
    // grows past the limit (the stream is then beyond use).
    State Next(std::string& record);
    // After kTooLarge: how large the record would have been at least, and
    // its first bytes as far as they are in (never more than `most`), for
    // saying what the record was.
    uint64_t TooLargeSize() const { return tooLargeSize_; }
    std::string TooLargeStart(size_t most) const;

  private:
    size_t limit_;
    std::string pending_;  // bytes not yet taken into a record
    std::string partial_;  // fragments of the record under way
    uint64_t tooLargeSize_ = 0;
};

inline constexpr uint32_t kAcceptSuccess = 0;
inline constexpr uint32_t kProgramUnavailable = 1;
inline constexpr uint32_t kProgramMismatch = 2;
inline constexpr uint32_t kProcedureUnavailable = 3;
inline constexpr uint32_t kGarbageArguments = 4;
inline constexpr uint32_t kSystemError = 5;

inline constexpr uint32_t kRpcMismatch = 0;  // reject_stat of a denied call
inline constexpr uint32_t kAuthError = 1;

// The portmapper: GETPORT of a program, version and protocol (TCP: 6).
inline constexpr uint32_t kPortmapperProgram = 100000;
inline constexpr uint32_t kPortmapperVersion = 2;
inline constexpr uint32_t kPortmapperNull = 0;
inline constexpr uint32_t kPortmapperGetPort = 3;
inline constexpr uint32_t kProtocolTcp = 6;

struct CallHeader {
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
};

// Reads a call's header (RPC version 2, credentials skipped), leaving `reader`
// at the arguments. False when the record is no such call.
bool ReadCallHeader(XdrReader& reader, CallHeader& header);

// A call record (unmarked): the header with null credentials and verifier,
// then `arguments`, already encoded.
std::string CallRecord(const CallHeader& header, std::string_view arguments);

// An accepted reply with a null verifier; `results` already encoded.
std::string AcceptedReply(uint32_t xid, uint32_t acceptStatus, std::string_view results = {});

struct ReplyHeader {
    uint32_t xid = 0;
    bool accepted = false;
    uint32_t acceptStatus = 0;  // accepted: kAcceptSuccess, kProgramUnavailable, ...
    uint32_t rejectStatus = 0;  // denied: kRpcMismatch or kAuthError
    uint32_t low = 0;           // kProgramMismatch and kRpcMismatch: the versions served
    uint32_t high = 0;
    uint32_t authStatus = 0;  // kAuthError: why
};

// Reads a reply's header (its verifier skipped), leaving `reader` at the
// results of an accepted, successful call. False when the record is no reply
// or is cut short.
bool ReadReplyHeader(XdrReader& reader, ReplyHeader& header);

// The largest reply header there is: the verifier's body may hold 400 bytes.
inline constexpr size_t kLongestReplyHeader = 6 * 4 + 400;

}  // namespace kr470::rpc
