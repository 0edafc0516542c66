// The TCP transport on Winsock: a connect bounded with its name lookup
// (OpenTcp) and bytes over the connected socket. Every wait blocks in
// WaitForMultipleObjects on two events, the socket's (read, write, close) and
// the transport's stop, so that Interrupt ends a wait at once and fails every
// later one, as shutting a socket down does on POSIX systems.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <string_view>

#include "NameLookup.h"
#include "Transport.h"

namespace kio {
namespace {

uint32_t NowMs() {
    return static_cast<uint32_t>(GetTickCount64());
}

// The texts the POSIX build gives for the failures a connect meets, so that
// a message reads the same on both; FormatMessage's own text for the rest.
std::string SocketErrorText(int error) {
    struct Known {
        int error;
        std::string_view text;
    };
    static constexpr std::array kKnown = {
        Known{WSAECONNREFUSED, "Connection refused"},
        Known{WSAETIMEDOUT, "Connection timed out"},
        Known{WSAEHOSTUNREACH, "No route to host"},
        Known{WSAENETUNREACH, "Network is unreachable"},
        Known{WSAECONNRESET, "Connection reset by peer"},
        Known{WSAEADDRNOTAVAIL, "Cannot assign requested address"},
    };
    for (const Known& known : kKnown) {
        if (known.error == error)
            return std::string(known.text);
    }
    std::array<char, 256> text{};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0, text.data(),
                                  static_cast<DWORD>(text.size()), nullptr);
    std::string message(text.data(), length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "socket error " + std::to_string(error) : message;
}

// Bytes over a connected socket whose events go to `socketEvent`.
class SocketTransport : public Transport {
  public:
    SocketTransport(SOCKET socket, WSAEVENT socketEvent)
        : socket_(socket), socketEvent_(socketEvent), stop_(WSACreateEvent()) {}
    ~SocketTransport() override {
        closesocket(socket_);
        WSACloseEvent(socketEvent_);
        WSACloseEvent(stop_);
    }

    void SendPromptly() override {
        BOOL yes = TRUE;
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes),
                   sizeof yes);
    }

    bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) override {
        const uint32_t start = NowMs();
        size_t done = 0;
        while (done < bytes.size()) {
            if (interrupted_)
                return false;
            const int chunk = static_cast<int>(std::min<size_t>(bytes.size() - done, 1 << 20));
            const int n = send(socket_, bytes.data() + done, chunk, 0);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return false;
            const uint32_t waited = NowMs() - start;
            if (waited >= timeoutMs || !WaitForSocket(timeoutMs - waited))
                return false;
        }
        return true;
    }

    long ReadSome(std::span<char> into, uint32_t waitMs) override {
        const uint32_t start = NowMs();
        const int room = static_cast<int>(std::min<size_t>(into.size(), 1 << 20));
        for (;;) {
            if (interrupted_)
                return -1;
            const int n = recv(socket_, into.data(), room, 0);
            if (n > 0)
                return n;
            if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
                return -1;  // closed by the other side, or failed
            const uint32_t waited = NowMs() - start;
            if (waited >= waitMs)
                return 0;
            if (!WaitForSocket(waitMs - waited))
                return interrupted_ ? -1 : 0;
        }
    }

    void Interrupt() override {
        interrupted_ = true;
        WSASetEvent(stop_);
    }
    std::string Problem() const override {
        return interrupted_ ? "interrupted on request" : std::string();
    }

  private:
    // Waits up to `waitMs` for the socket's next event; false on time-out or
    // a stop. The socket's event is reset here: the caller tries the socket
    // again, and Winsock posts the event anew for what is still pending.
    bool WaitForSocket(uint32_t waitMs) {
        const std::array events = {socketEvent_, stop_};
        const DWORD woken = WSAWaitForMultipleEvents(static_cast<DWORD>(events.size()),
                                                     events.data(), FALSE, waitMs, FALSE);
        if (woken != WSA_WAIT_EVENT_0)
            return false;
        WSANETWORKEVENTS happened{};
        WSAEnumNetworkEvents(socket_, socketEvent_, &happened);
        return true;
    }

    SOCKET socket_;
    WSAEVENT socketEvent_;
    WSAEVENT stop_;
    std::atomic<bool> interrupted_{false};
};

// A connect that waits for its outcome no longer than `timeoutMs`; the
// socket is non-blocking, its events going to `socketEvent`.
SOCKET ConnectWithin(const addrinfo& address, WSAEVENT socketEvent, uint32_t timeoutMs,
                     std::string& why) {
    SOCKET s = WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        why = SocketErrorText(WSAGetLastError());
        return INVALID_SOCKET;
    }
    // Non-blocking from here on; the events are asked for again by the transport.
    WSAEventSelect(s, socketEvent, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    int error = 0;
    if (connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0)
        error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        error = WSAETIMEDOUT;
        const uint32_t start = NowMs();
        for (uint32_t spent = 0; spent < timeoutMs; spent = NowMs() - start) {
            if (WSAWaitForMultipleEvents(1, &socketEvent, FALSE, timeoutMs - spent, FALSE) !=
                WSA_WAIT_EVENT_0)
                break;
            WSANETWORKEVENTS happened{};
            WSAEnumNetworkEvents(s, socketEvent, &happened);
            if (happened.lNetworkEvents & FD_CONNECT) {
                error = happened.iErrorCode[FD_CONNECT_BIT];
                break;
            }
        }
    }
    if (error == 0)
        return s;
    why = SocketErrorText(error);
    closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

void StartSockets() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);  // kept for the life of the process
    });
}

std::unique_ptr<Transport> OpenTcp(const std::string& host, const std::string& port,
                                   uint32_t timeoutMs, std::string& why) {
    const uint32_t start = NowMs();
    AddressList found = LookUpWithin(host, port, timeoutMs, why);
    if (!found)
        return nullptr;
    const std::string where = host + ":" + port;
    why = where + ": no answer";
    for (const addrinfo* a = found.get(); a != nullptr; a = a->ai_next) {
        const uint32_t spent = NowMs() - start;
        if (spent >= timeoutMs) {
            why = where + ": " + SocketErrorText(WSAETIMEDOUT);
            break;
        }
        WSAEVENT socketEvent = WSACreateEvent();
        SOCKET s = ConnectWithin(*a, socketEvent, timeoutMs - spent, why);
        if (s != INVALID_SOCKET)
            return std::make_unique<SocketTransport>(s, socketEvent);
        WSACloseEvent(socketEvent);
        why = where + ": " + why;
    }
    return nullptr;
}

}  // namespace kio
