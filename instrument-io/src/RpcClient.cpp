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
#include <optional>
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

}  // namespace

// Ends a call at its deadline. The RPC library starts its wait afresh for each
// record it reads and drops replies to other calls, so a server sending such
// replies steadily would hold the call for ever; shutting the socket down wakes
// it. The connection is unusable afterwards, as after any failed call. One
// watcher lives as long as its client: a thread for each call would cost more
// than the call.
class CallWatch {
  public:
    explicit CallWatch(int fd) : fd_(fd), watcher_([this] { Watch(); }) {}
    ~CallWatch() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        woken_.notify_one();
        watcher_.join();
    }
    CallWatch(const CallWatch&) = delete;
    CallWatch& operator=(const CallWatch&) = delete;

    void Arm(uint32_t milliseconds) {
        std::lock_guard lock(mutex_);
        deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds);
        expired_ = false;
        // The watcher sleeping past the new deadline must look again.
        if (!sleepingUntil_ || *deadline_ < *sleepingUntil_)
            woken_.notify_one();
    }

    // True when the deadline ended the call.
    bool Disarm() {
        std::lock_guard lock(mutex_);
        deadline_.reset();
        return expired_;
    }

    // Ends the call under way now and leaves the connection shut.
    void Interrupt() {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        shutdown(fd_, SHUT_RDWR);
    }
    bool Interrupted() {
        std::lock_guard lock(mutex_);
        return interrupted_;
    }

  private:
    using Clock = std::chrono::steady_clock;

    void Watch() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (deadline_ && Clock::now() >= *deadline_) {
                expired_ = true;
                deadline_.reset();
                shutdown(fd_, SHUT_RDWR);
            }
            sleepingUntil_ = deadline_;
            if (deadline_)
                woken_.wait_until(lock, *deadline_);
            else
                woken_.wait(lock);
            sleepingUntil_.reset();
        }
    }

    const int fd_;
    std::mutex mutex_;
    std::condition_variable woken_;
    std::optional<Clock::time_point> deadline_;
    std::optional<Clock::time_point> sleepingUntil_;
    bool expired_ = false;
    bool interrupted_ = false;
    bool stopping_ = false;
    std::thread watcher_;  // last: starts once the members above exist
};

RpcClient::RpcClient(CLIENT* client, int fd)
    : client_(client), fd_(fd), watch_(std::make_unique<CallWatch>(fd)) {}

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
    watch_.reset();  // before the socket's number can be reused
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
    watch_->Arm(timeoutMs);
    clnt_stat status = clnt_call(client_, procedure, encode, const_cast<void*>(arguments), decode,
                                 static_cast<char*>(results), wait);
    const bool expired = watch_->Disarm();
    if (status == RPC_SUCCESS)
        return true;
    if (watch_->Interrupted())
        why = "interrupted on request";
    else
        why = expired ? clnt_sperrno(RPC_TIMEDOUT) : FailureText();
    return false;
}

void RpcClient::Interrupt() {
    watch_->Interrupt();
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
