// Opening a TCP connection: numeric hosts without a lookup, a name lookup
// and a connect that never end within the caller's time limit.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kio/Session.h>

#include "NameLookup.h"
#include "PseudoTerminal.h"
#include "Transport.h"

namespace kio {
namespace {

// A loopback listener on a port of its own; `backlog` 0 takes one waiting
// connection, after which the kernel ignores new ones.
class Listener {
  public:
    explicit Listener(int backlog = 8) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd_, backlog), 0);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = std::to_string(ntohs(address.sin_port));
    }
    ~Listener() { ::close(fd_); }
    const std::string& Port() const { return port_; }

  private:
    int fd_;
    std::string port_;
};

// A resolver that holds every lookup until released, then answers as
// getaddrinfo does for 127.0.0.1.
class HeldResolver {
  public:
    HeldResolver() {
        SetResolver([this](const char*, const char* port, const addrinfo* hints, addrinfo** out) {
            std::unique_lock lock(mutex_);
            ++started_;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::seconds(30), [this] { return released_; });
            ++finished_;
            changed_.notify_all();
            return getaddrinfo("127.0.0.1", port, hints, out);
        });
    }
    ~HeldResolver() {
        Release();
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30), [this] { return finished_ == started_; });
        lock.unlock();
        SetResolver({});
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    int Started() {
        std::lock_guard lock(mutex_);
        return started_;
    }
    int Finished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    int started_ = 0, finished_ = 0;
};

TEST(OpenTcp, NumericHostsAreReadWithoutALookupAndNamesAreLookedUp) {
    Listener listener;
    std::vector<std::string> asked;
    SetResolver([&](const char* host, const char* port, const addrinfo* hints, addrinfo** out) {
        asked.emplace_back(host);
        return getaddrinfo(host, port, hints, out);
    });
    std::string why;
    EXPECT_NE(OpenTcp("127.0.0.1", listener.Port(), 5000, why), nullptr) << why;
    EXPECT_TRUE(asked.empty());
    EXPECT_NE(OpenTcp("localhost", listener.Port(), 5000, why), nullptr) << why;
    EXPECT_EQ(asked, std::vector<std::string>{"localhost"});
    SetResolver({});
}

TEST(OpenTcp, AHungNameLookupIsGivenUpAtTheLimitAndLookupsAreFew) {
    HeldResolver resolver;
    std::string why;
    for (int lookup = 0; lookup < kMostNameLookups; ++lookup) {
        EXPECT_EQ(OpenTcp("kr470.invalid", "5025", 20, why), nullptr);
        EXPECT_EQ(why, "kr470.invalid: name lookup timed out");
    }
    // Every one of them is still held: the callers did not wait for them.
    EXPECT_EQ(resolver.Finished(), 0);
    EXPECT_EQ(OpenTcp("kr470.invalid", "5025", 20, why), nullptr);
    EXPECT_EQ(why, "kr470.invalid: too many name lookups under way");
    EXPECT_LE(resolver.Started(), kMostNameLookups);
}

TEST(OpenTcp, AConnectThatIsNeverAnsweredEndsAtTheSessionsLimit) {
    Listener full(0);
    std::string why;
    std::vector<std::unique_ptr<Transport>> waiting;
    // Fill the listener's queue; the next connect is ignored by the kernel.
    for (int i = 0; i < 4; ++i) {
        std::unique_ptr<Transport> t = OpenTcp("127.0.0.1", full.Port(), 50, why);
        if (!t)
            break;
        waiting.push_back(std::move(t));
    }
    ASSERT_FALSE(waiting.empty());
    Result result;
    const std::string address = "TCPIP0::127.0.0.1::" + full.Port() + "::SOCKET";
    EXPECT_EQ(Session::Open(address, result, 50), nullptr);
    EXPECT_EQ(result.status, Status::kNotFound);
    EXPECT_NE(result.message.find("timed out"), std::string::npos) << result.message;
}

// Interrupts `link` from another thread while it waits ten minutes for a
// reply that never comes: the wait fails, and says why.
void ExpectInterruptEndsTheWait(Transport& link) {
    std::thread stop([&link] { link.Interrupt(); });
    std::array<char, 16> buffer{};
    EXPECT_EQ(link.ReadSome(buffer, 600000), -1);
    stop.join();
    EXPECT_EQ(link.Problem(), "interrupted on request");
    EXPECT_EQ(link.ReadSome(buffer, 600000), -1);  // and every later one
}

TEST(OpenTcp, AnInterruptEndsAWaitForAReplyAtOnceAndEveryLaterOne) {
    Listener listener;  // connects, and never answers
    std::string why;
    std::unique_ptr<Transport> link = OpenTcp("127.0.0.1", listener.Port(), 5000, why);
    ASSERT_NE(link, nullptr) << why;
    ExpectInterruptEndsTheWait(*link);
}

TEST(OpenSerial, AnInterruptEndsAWaitForAReplyWithinItsCheck) {
    testsupport::PseudoTerminal terminal;  // nothing ever answers on it
    testsupport::LockFolder locks;
    std::string why;
    std::unique_ptr<Transport> link = OpenSerial(terminal.Path(), "115200,N,8,1", "", why);
    ASSERT_NE(link, nullptr) << why;
    ExpectInterruptEndsTheWait(*link);
}

}  // namespace
}  // namespace kio
