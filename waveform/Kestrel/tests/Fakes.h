// Fake window hooks and a scripted I/O object for the plug-in's routines.
#pragma once

#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Instrument.h"
#include "InstrumentIO.h"
#include "RuntimeError.h"
#include "WindowHooks.h"

namespace kestrel::testing {

inline std::vector<std::string> CommaFields(const std::string& reply) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t comma; (comma = reply.find(',', start)) != std::string::npos; start = comma + 1) {
        fields.push_back(reply.substr(start, comma - start));
    }
    fields.push_back(reply.substr(start));
    return fields;
}

// The message list of an update that went through in one clean pass.
inline std::vector<std::string> CleanUpdateLines(const std::string& name) {
    return {name,
            "Verifying code section of Update file.",
            "Record count and CheckSum match!",
            "Code section OK.",
            "Waiting 5 seconds for unit to reset...",
            "Done Waiting!",
            "Update started!  Do not touch the front panel during this process!",
            "+0,\"No error\"",
            "Waiting 5 seconds for reset...",
            "Done waiting!"};
}

struct Box {
    std::string text;
    Buttons buttons;
    Icon icon;
    std::string title;
};

class FakeWindow : public WindowServices, public MessageList {
  public:
    std::vector<Box> boxes;
    std::deque<Answer> answers;  // next answers; OK when none is left
    std::vector<std::string> lines;
    int breaths = 0;

    Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                       const std::string& title) override {
        boxes.push_back({text, buttons, icon, title});
        if (answers.empty())
            return Answer::kOk;
        Answer next = answers.front();
        answers.pop_front();
        return next;
    }
    void Breathe() override { ++breaths; }
    void AddLine(const std::string& text) override { lines.push_back(text); }
    void Redraw() override {}
};

// Answers each line through a responder; records what was sent.
class ScriptedIO : public InstrumentIO {
  public:
    std::function<std::string(const std::string&)> responder;
    std::vector<std::string> sent;
    std::string lastReply;
    bool failReads = false;

    std::string GetAddress() override { return "GPIB0::10"; }
    void ReadReply(std::string& reply, const std::string&) override { reply = Take(); }
    void ReadReply(std::vector<std::string>& fields, const std::string&) override {
        fields = CommaFields(Take());
    }
    std::string GetInterfaceKind() override { return "GPIB"; }
    void SendCommand(const std::string& command) override {
        sent.push_back(command);
        lastReply = responder ? responder(command) : "";
    }
    std::string SendQuery(const std::string& query) override {
        SendCommand(query);
        return Take();
    }
    void SetTimeout(int32_t) override {}

  private:
    std::string Take() {
        if (failReads)
            throw RuntimeError(440, "Timeout expired before operation completed (GPIB0::10)");
        return lastReply;
    }
};

// Records what the window's progress bar was told; clamps as the window does.
class FakeProgress : public ProgressBar {
  public:
    int minimum = -1, maximum = -1, value = -1;
    std::vector<int> positions;  // every position set

    void SetMinimum(int v) override { minimum = v; }
    void SetMaximum(int v) override { maximum = v; }
    int Maximum() const override { return maximum; }
    void SetValue(int v) override {
        positions.push_back(v);
        value = std::min(v, maximum);
    }
};

// The simulated instrument behind an I/O object, with a record of every
// line it received. `replies` overrides the next replies to a command.
class SimulatedIO : public InstrumentIO {
  public:
    explicit SimulatedIO(kr470::InstrumentOptions options, std::string kind = "TCPIP")
        : instrument(std::move(options)), kind_(std::move(kind)) {}

    kr470::Instrument instrument;
    std::vector<std::string> sent;
    std::map<std::string, std::deque<std::string>> replies;
    int timeoutMs = 0;

    std::string GetAddress() override { return "TCPIP0::127.0.0.1::5025::SOCKET"; }
    void ReadReply(std::string& reply, const std::string&) override { reply = Take(); }
    void ReadReply(std::vector<std::string>& fields, const std::string&) override {
        fields = CommaFields(Take());
    }
    std::string GetInterfaceKind() override { return kind_; }
    void SendCommand(const std::string& command) override {
        if (hungUp_)
            throw RuntimeError(440, "I/O error: the connection was closed");
        sent.push_back(command);
        kr470::Response response = instrument.Handle(command);
        hungUp_ = response.hangUp;
        pending_ = response.reply;
        auto scripted = replies.find(command);
        if (scripted != replies.end() && !scripted->second.empty()) {
            pending_ = scripted->second.front();
            scripted->second.pop_front();
        }
    }
    std::string SendQuery(const std::string& query) override {
        SendCommand(query);
        return Take();
    }
    void SetTimeout(int32_t milliseconds) override { timeoutMs = milliseconds; }

  private:
    std::string Take() {
        if (!pending_)
            throw RuntimeError(440, "Timeout expired before operation completed");
        std::string reply = *pending_;
        pending_.reset();
        return reply;
    }
    std::string kind_;
    std::optional<std::string> pending_;
    bool hungUp_ = false;
};

// A connection to a simulated instrument that outlives it: opening one is a
// new connection, which the instrument sees as a reset. After `cutAfter`
// commands the connection is gone; `onCommand` is told the count of each
// command sent.
class ConnectionIO : public InstrumentIO {
  public:
    static constexpr size_t kNoCut = std::numeric_limits<size_t>::max();

    ConnectionIO(kr470::Instrument& instrument, size_t cutAfter = kNoCut)
        : instrument_(instrument), cutAfter_(cutAfter) {
        instrument_.Reset();
    }
    std::vector<std::string> sent;
    std::function<void(size_t)> onCommand;

    std::string GetAddress() override { return "TCPIP0::127.0.0.1::5025::SOCKET"; }
    void ReadReply(std::string& reply, const std::string&) override { reply = Take(); }
    void ReadReply(std::vector<std::string>& fields, const std::string&) override {
        fields = CommaFields(Take());
    }
    std::string GetInterfaceKind() override { return "TCPIP"; }
    void SendCommand(const std::string& command) override {
        if (sent.size() >= cutAfter_)
            throw RuntimeError(440, "I/O error: the connection was closed");
        sent.push_back(command);
        pending_ = instrument_.Handle(command).reply;
        if (onCommand)
            onCommand(sent.size());
    }
    std::string SendQuery(const std::string& query) override {
        SendCommand(query);
        return Take();
    }
    void SetTimeout(int32_t) override {}

  private:
    std::string Take() {
        if (!pending_)
            throw RuntimeError(440, "Timeout expired before operation completed");
        std::string reply = *pending_;
        pending_.reset();
        return reply;
    }
    kr470::Instrument& instrument_;
    size_t cutAfter_;
    std::optional<std::string> pending_;
};

// The dialogue of a loader instrument's update over a socket: the loader's
// start token, one clean pass of `records` up to the S7 line sent with
// `word`, the commit with `sum`.
inline std::vector<std::string> LoaderDialogue(const std::string& token,
                                               const std::vector<std::string>& records,
                                               const std::string& word, const std::string& sum) {
    std::vector<std::string> lines = {"*IDN?", "*OPC?",     "SYSTem:ERRor?",
                                      "*CLS",  "dlo:csum?", "dlo:start " + token,
                                      "*OPC?", "dlo:stat?"};
    for (const std::string& record : records) {
        lines.push_back(word + " \"" + record + "\" ");
        if (record.rfind("S7", 0) == 0)
            break;
    }
    lines.insert(lines.end(), {"*OPC?", "SYST:ERR?", "dlo:csum?", "dlo:stat?", "dlo:comp " + sum,
                               "*OPC?", "*IDN?"});
    return lines;
}

}  // namespace kestrel::testing
