// Fake window hooks and a scripted I/O object for the plug-in's routines.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "InstrumentIO.h"
#include "RuntimeError.h"
#include "WindowHooks.h"

namespace kestrel::testing {

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
    int waitedMs = 0;

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
    void Wait(int milliseconds) override { waitedMs += milliseconds; }
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
        std::string reply = Take();
        fields.clear();
        size_t start = 0;
        for (size_t comma; (comma = reply.find(',', start)) != std::string::npos;
             start = comma + 1) {
            fields.push_back(reply.substr(start, comma - start));
        }
        fields.push_back(reply.substr(start));
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

}  // namespace kestrel::testing
