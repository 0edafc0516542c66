// A port that keeps its own clock and answers written lines through a
// responder, so the link and the update procedure run without a device.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SerialPort.h"

namespace osprey::testing {

class FakePort : public SerialPort {
  public:
    struct State {
        bool openSucceeds = true;
        bool queuesSucceed = true;
        std::string defaultSettings;  // empty: the fallback
        std::function<bool(const LineSettings&)> accepts = [](const LineSettings&) { return true; };
        std::function<std::optional<std::string>(const std::string&)> responder;
        std::string input;           // bytes waiting to be read
        size_t pieceSize = 1 << 20;  // at most this many bytes per read
        bool readFails = false;
        uint32_t errorFlags = 0x10;
        IoStatus writeStatus = IoStatus::kOk;
        uint32_t now = 1000;
        uint32_t readDelayMs = 0;  // clock advance on every read that finds bytes

        std::string openedPath;
        std::vector<LineSettings> applied;  // every accepted settings record
        LineSettings current;
        std::string written;
        std::vector<std::string> lines;  // written lines, without LF
        PortTimeouts timeouts;
        int purges = 0;
        bool closed = false;
    };

    explicit FakePort(State& state) : s_(state) {}

    bool Open(std::string_view devicePath) override {
        s_.openedPath = devicePath;
        return s_.openSucceeds;
    }
    std::string DefaultSettings(std::string_view, std::string_view fallback) override {
        return s_.defaultSettings.empty() ? std::string(fallback) : s_.defaultSettings;
    }
    bool SetupQueues(uint32_t, uint32_t) override { return s_.queuesSucceed; }
    bool ApplySettings(const LineSettings& settings) override {
        if (!s_.accepts(settings)) {
            return false;
        }
        s_.current = settings;
        s_.applied.push_back(settings);
        return true;
    }
    bool SetTimeouts(const PortTimeouts& timeouts) override {
        s_.timeouts = timeouts;
        return true;
    }
    IoResult Write(std::span<const char> bytes) override {
        if (s_.writeStatus != IoStatus::kOk) {
            return {s_.writeStatus, 0};
        }
        for (char c : bytes) {
            s_.written.push_back(c);
            if (c == '\n') {
                std::string line = pending_;
                pending_.clear();
                s_.lines.push_back(line);
                if (s_.responder) {
                    if (std::optional<std::string> reply = s_.responder(line)) {
                        s_.input += *reply + "\n";
                    }
                }
            } else {
                pending_.push_back(c);
            }
        }
        return {IoStatus::kOk, bytes.size()};
    }
    IoResult Read(std::span<char> into, uint32_t waitMs) override {
        if (s_.readFails) {
            return {IoStatus::kFailed, 0};
        }
        if (s_.input.empty()) {
            s_.now += waitMs;  // nothing comes: the whole wait passes
            return {};
        }
        s_.now += s_.readDelayMs;
        size_t n = std::min({into.size(), s_.input.size(), s_.pieceSize});
        std::copy_n(s_.input.begin(), n, into.begin());
        s_.input.erase(0, n);
        return {IoStatus::kOk, n};
    }
    bool Purge() override {
        ++s_.purges;
        return true;
    }
    uint32_t ClearErrors() override { return s_.errorFlags; }
    void Close() override { s_.closed = true; }
    uint32_t TickCount() override { return s_.now; }
    std::string LastErrorText() override { return "The device is not ready."; }

  private:
    State& s_;
    std::string pending_;
};

}  // namespace osprey::testing
