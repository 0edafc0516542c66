// The simulator's VXI-11 core channel: links to one LAN device, writes fed
// to the instrument line by line, its replies served to reads. No sockets
// here: a call record in, a reply record out.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Instrument.h"
#include "LineInput.h"
#include "Vxi11Numbers.h"

namespace kr470 {

inline constexpr uint32_t kVxi11CoreProgram = vxi11::kCoreProgram;
inline constexpr uint32_t kVxi11CoreVersion = vxi11::kCoreVersion;

struct Vxi11Options {
    int corePort = -1;             // serve the core channel on 127.0.0.1:corePort (0: any); -1: off
    bool portmapper = false;       // also answer the portmapper on 127.0.0.1:111
    std::string device = "inst0";  // the LAN device name create_link takes
    uint32_t maxRecvSize = 4096;   // what create_link announces
    std::vector<Trigger> muteOn;   // after these commands no call is answered again
    bool lineFeed = true;          // end each reply with LF (always with END)
};

// One line received by the instrument, and what it answers.
using LineHandler = std::function<Response(const std::string& line)>;

class Vxi11Core {
  public:
    Vxi11Core(const Vxi11Options& options, LineHandler handler);

    struct Answer {
        std::string reply;    // the reply record; empty for none
        uint32_t holdMs = 0;  // send it only after this long
        bool hangUp = false;  // the instrument dropped the line
        bool mute = false;    // from now on nothing is answered
    };
    // Answers one call record of the core channel.
    Answer Handle(std::string_view call);
    // Told of each link created: a new session with the instrument.
    void OnNewLink(std::function<void()> onNewLink) { onNewLink_ = std::move(onNewLink); }

  private:
    Answer CreateLink(uint32_t xid, std::string_view arguments);
    Answer Write(uint32_t xid, std::string_view arguments);
    Answer Read(uint32_t xid, std::string_view arguments);
    Answer DestroyLink(uint32_t xid, std::string_view arguments);
    // Feeds the whole lines written so far to the instrument.
    void FeedLines(Answer& answer);
    bool Mutes(const std::string& line);

    const Vxi11Options& options_;
    LineHandler handler_;
    std::function<void()> onNewLink_;
    std::set<int32_t> links_;
    int32_t nextLink_ = 1;
    LineInput input_;                  // written bytes, cut into lines
    std::deque<std::string> output_;   // replies not yet read, the first maybe in part
    std::map<std::string, int> seen_;  // occurrences of each command head, for muteOn
};

}  // namespace kr470
