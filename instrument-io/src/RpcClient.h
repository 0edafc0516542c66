// ONC RPC over TCP on a kio::Transport: a bounded connect, each call within
// the caller's time-out, each reply no larger than the caller allows, and
// failures as readable text. No sockets, threads or platform code of its
// own: the same client serves Linux and Windows.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "RpcWire.h"
#include "Transport.h"

namespace kio {

class RpcClient {
  public:
    RpcClient(std::unique_ptr<Transport> transport, uint32_t program, uint32_t version);
    RpcClient(const RpcClient&) = delete;
    RpcClient& operator=(const RpcClient&) = delete;

    // Connects to program/version at host:port within `timeoutMs`; null with
    // `why` set when that fails.
    static std::unique_ptr<RpcClient> Connect(const std::string& host, const std::string& port,
                                              uint32_t program, uint32_t version,
                                              uint32_t timeoutMs, std::string& why);

    enum class Outcome {
        kDone,      // `results` holds the call's results, still encoded
        kTooLarge,  // the reply was larger than `replyLimit`: `results` holds its start
        kFailed,    // `why` says what went wrong ("RPC: Timed out", ...)
    };
    // One call: the record sent and its reply read within `timeoutMs`, the
    // reply record (header included) no larger than `replyLimit`. Replies to
    // other calls are dropped.
    Outcome Call(uint32_t procedure, std::string_view arguments, size_t replyLimit,
                 uint32_t timeoutMs, std::string& results, std::string& why);

    // From another thread: ends the call under way at once, and every later
    // one fails ("interrupted on request").
    void Interrupt();

    // What a too-large reply's header leaves of its start (see kTooLarge).
    static constexpr size_t kShownOfTooLarge = 512;

  private:
    using Clock = std::chrono::steady_clock;
    bool Send(uint32_t procedure, std::string_view arguments, Clock::time_point deadline,
              uint32_t xid, std::string& why);
    Outcome Receive(uint32_t xid, Clock::time_point deadline, std::string& results,
                    std::string& why);
    Outcome TooLarge(uint32_t xid, Clock::time_point deadline, std::string& results,
                     std::string& why);
    bool ReadMore(Clock::time_point deadline, std::string& why);
    // The reply's header read: true with `results` at its results when the
    // call was accepted and done, else `why` in the RPC library's words.
    static bool Accepted(kr470::rpc::XdrReader& reply, uint32_t xid, std::string& results,
                         std::string& why);

    std::unique_ptr<Transport> transport_;
    uint32_t program_;
    uint32_t version_;
    uint32_t nextXid_;
    kr470::rpc::RecordReader records_{0};  // what came, replies to earlier calls included
    std::vector<char> buffer_;
    std::atomic<bool> interrupted_{false};
};

}  // namespace kio
