#include "RpcClient.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <rpc/pmap_prot.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "Transport.h"
#include "Vxi11.h"

namespace kio {
namespace {

constexpr const char* kPortmapperPort = "111";

timeval ToTimeval(uint32_t milliseconds) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
    tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    return tv;
}

// The RPC library writes with write(): a peer that has closed the connection
// would raise SIGPIPE and end the host program. The signal is held on this
// thread during a call, and one raised meanwhile is taken back.
class HeldSigpipe {
  public:
    HeldSigpipe() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~HeldSigpipe() {
        sigset_t pending;
        sigpending(&pending);
        if (!alreadyPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    HeldSigpipe(const HeldSigpipe&) = delete;
    HeldSigpipe& operator=(const HeldSigpipe&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t previous_{};
    bool alreadyPending_ = false;
};

// Ends a call at its deadline. The RPC library starts its wait afresh for each
// record it reads and drops replies to other calls, so a server sending such
// replies steadily would hold the call for ever; shutting the socket down wakes
// it. The connection is unusable afterwards, as after any failed call.
class CallDeadline {
  public:
    CallDeadline(int fd, uint32_t milliseconds)
        : watcher_([this, fd, milliseconds] { Watch(fd, milliseconds); }) {}
    ~CallDeadline() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        woken_.notify_one();
        watcher_.join();
    }
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;

    // Only after the call: true when the deadline ended it.
    bool Expired() {
        std::lock_guard lock(mutex_);
        return expired_;
    }

  private:
    void Watch(int fd, uint32_t milliseconds) {
        std::unique_lock lock(mutex_);
        if (woken_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return finished_; }))
            return;
        expired_ = true;
        shutdown(fd, SHUT_RDWR);
    }

    std::mutex mutex_;
    std::condition_variable woken_;
    bool finished_ = false;
    bool expired_ = false;
    std::thread watcher_;  // last: starts once the members above exist
};

}  // namespace

std::unique_ptr<RpcClient> RpcClient::Connect(const std::string& host, const std::string& port,
                                              uint32_t program, uint32_t version,
                                              uint32_t timeoutMs, std::string& why) {
    int fd = ConnectTcp(host, port, timeoutMs, why);
    if (fd < 0)
        return nullptr;
    // The RPC library waits in poll() itself and writes whole records.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length);
    netbuf address{length, length, &peer};
    CLIENT* client = clnt_vc_create(fd, &address, program, version, 0, 0);
    if (client == nullptr) {
        why = host + ":" + port + ": " + clnt_spcreateerror("RPC");
        while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
            why.pop_back();
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<RpcClient>(new RpcClient(client, fd));
}

RpcClient::~RpcClient() {
    clnt_destroy(client_);
    ::close(fd_);
}

bool RpcClient::Call(uint32_t procedure, xdrproc_t encode, const void* arguments, xdrproc_t decode,
                     void* results, uint32_t timeoutMs, std::string& why) {
    timeval wait = ToTimeval(timeoutMs);
    clnt_control(client_, CLSET_TIMEOUT, reinterpret_cast<char*>(&wait));
    // A write the peer never takes must not outlast the call either.
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    HeldSigpipe held;
    CallDeadline deadline(fd_, timeoutMs);
    clnt_stat status = clnt_call(client_, procedure, encode, const_cast<void*>(arguments), decode,
                                 static_cast<char*>(results), wait);
    if (status == RPC_SUCCESS)
        return true;
    why = deadline.Expired() ? clnt_sperrno(RPC_TIMEDOUT) : FailureText();
    return false;
}

std::string RpcClient::FailureText() const {
    rpc_err error{};
    clnt_geterr(client_, &error);
    std::string text = clnt_sperrno(error.re_status);
    bool transport = error.re_status == RPC_CANTSEND || error.re_status == RPC_CANTRECV;
    if (transport && error.re_errno != 0)
        text += ": " + std::string(std::strerror(error.re_errno));
    return text;
}

std::string PortFromPortmapper(const std::string& host, uint32_t program, uint32_t version,
                               uint32_t timeoutMs, std::string& why) {
    std::unique_ptr<RpcClient> portmapper =
        RpcClient::Connect(host, kPortmapperPort, PMAPPROG, PMAPVERS, timeoutMs, why);
    if (!portmapper) {
        why = "no portmapper: " + why;
        return "";
    }
    pmap query{program, version, IPPROTO_TCP, 0};
    u_long port = 0;
    if (!portmapper->Call(PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap), &query,
                          reinterpret_cast<xdrproc_t>(xdr_u_long), &port, timeoutMs, why)) {
        why = "portmapper on " + host + ": " + why;
        return "";
    }
    if (port == 0 || port > 65535) {
        char program_text[16];
        std::snprintf(program_text, sizeof program_text, "0x%06X", program);
        why = "the portmapper on " + host + " has no TCP port for RPC program " + program_text +
              " version " + std::to_string(version);
        return "";
    }
    return std::to_string(port);
}

}  // namespace kio
