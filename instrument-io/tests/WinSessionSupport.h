// What the Windows tests of instrument-io share: an environment variable set
// for a scope, a fixture whose sessions read a configuration file of the
// test's own, and a loopback listener on a port of its own that plays the
// peer of a session (an instrument's socket or a "++" controller), one
// connection at a time. Winsock only.
#pragma once

#include <stdlib.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <kio/Session.h>

#include "TempFile.h"
#include "WinLoopback.h"

namespace kio {

// An environment variable set for a scope; what it held before (or its
// absence) is back at the end.
class ScopedVariable {
  public:
    ScopedVariable(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* before = std::getenv(name_.c_str()))
            before_ = before;
        _putenv_s(name_.c_str(), value.c_str());
    }
    ~ScopedVariable() { _putenv_s(name_.c_str(), before_.c_str()); }  // "" removes it
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::string name_;
    std::string before_;
};

// Sessions opened with KIO_CONFIG naming the file Configure wrote.
class ConfiguredSessions : public ::testing::Test {
  protected:
    // Again within a test: the file is written anew (the variable put back
    // first, or the old scope's end would take the new value away).
    void Configure(const std::string& text) {
        config_.reset();
        config_ = std::make_unique<ScopedVariable>("KIO_CONFIG", dir_.Write("config.ini", text));
    }
    std::unique_ptr<Session> Open(const std::string& address, Result& result) {
        return Session::Open(address, result, 5000);
    }
    testsupport::TempDir dir_;

  private:
    std::unique_ptr<ScopedVariable> config_;
};

// A loopback listener on a port of its own; it talks with the connection it
// accepted last.
class Listener {
  public:
    Listener() {
        socket_ = ListenOnLoopback(port_);
        EXPECT_NE(socket_, INVALID_SOCKET);
    }
    ~Listener() {
        Hangup();
        closesocket(socket_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    const std::string& Port() const { return port_; }
    std::string Address() const { return "TCPIP0::127.0.0.1::" + port_ + "::SOCKET"; }
    void Accept() {
        Hangup();
        peer_ = accept(socket_, nullptr, nullptr);
    }
    // Whether a connection waits to be accepted. A session connects within
    // its Open, so once Open has returned its connection is here or nowhere.
    bool ConnectionWaiting() const {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(socket_, &ready);
        timeval now{};
        return select(0, &ready, nullptr, nullptr, &now) == 1;
    }
    void Send(const std::string& bytes) {
        send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    // The bytes the session sent, up to and with its first LF.
    std::string ReceiveLine() { return ReceiveUntil("\n"); }
    // The bytes the session sent, up to and with the first `end`; fewer when
    // the connection ends first.
    std::string ReceiveUntil(const std::string& end) {
        std::string text;
        char c = 0;
        while (!text.ends_with(end) && recv(peer_, &c, 1, 0) == 1)
            text.push_back(c);
        return text;
    }
    void Hangup() {
        if (peer_ != INVALID_SOCKET)
            closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    std::string port_;
};

}  // namespace kio
