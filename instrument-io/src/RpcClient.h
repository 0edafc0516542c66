// ONC RPC over TCP with a time-out of the caller's choosing on every call,
// a bounded name lookup and connect, and failures as readable text.
#pragma once

#include <rpc/rpc.h>

#include <cstdint>
#include <memory>
#include <string>

namespace kio {

class CallWatch;

class RpcClient {
  public:
    ~RpcClient();
    RpcClient(const RpcClient&) = delete;
    RpcClient& operator=(const RpcClient&) = delete;

    // Connects to program/version at host:port within `timeoutMs`; null with
    // `why` set when that fails.
    static std::unique_ptr<RpcClient> Connect(const std::string& host, const std::string& port,
                                              uint32_t program, uint32_t version,
                                              uint32_t timeoutMs, std::string& why);

    // One call that waits at most `timeoutMs` for its reply. On failure
    // `why` says what went wrong ("RPC: Timed out", ...).
    bool Call(uint32_t procedure, xdrproc_t encode, const void* arguments, xdrproc_t decode,
              void* results, uint32_t timeoutMs, std::string& why);

    // From another thread: ends the call under way at once, and every later
    // one fails ("interrupted on request").
    void Interrupt();

  private:
    RpcClient(CLIENT* client, int fd);
    std::string FailureText() const;

    CLIENT* client_;
    int fd_;
    std::unique_ptr<CallWatch> watch_;
};

}  // namespace kio
