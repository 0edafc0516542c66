// The simulator as a GPIB "++" controller with the instrument on its bus:
// commands starting with "++" go to the controller; other bytes, unescaped,
// are a message to the addressed instrument, which only the instrument at the
// configured address takes. Replies wait in the instrument until "++read".
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "Instrument.h"
#include "LineInput.h"

namespace kr470 {

struct GpibFaceSettings {
    bool enabled = false;
    int primary = 10;
    int secondary = -1;      // -1: none
    int answeredReads = -1;  // after this many "++read"s the controller falls silent; -1: never
};

struct FaceOutput {
    std::string toHost;   // bytes for the host
    bool hangUp = false;  // the instrument dropped the line
};

// The line arriving from one host, short of its end. Each host keeps its
// own, so the bytes of two hosts never run into one line.
struct HostLine {
    std::string text;
    size_t leadingPlus = 0;  // unescaped '+' at its start
    bool escaped = false;    // the last byte was ESC
    bool overlong = false;   // it outgrew what a message can be: dropped at its end
};

// Hands one line to the instrument (the transcript and figures see it too).
using DeliverLine = std::function<Response(const std::string& line)>;

class PlusPlusFace {
  public:
    PlusPlusFace(GpibFaceSettings settings, DeliverLine deliver);

    // Bytes from the one host there is, or from the host whose line `from` is.
    FaceOutput Feed(std::string_view bytes) { return Feed(bytes, line_); }
    FaceOutput Feed(std::string_view bytes, HostLine& from);

  private:
    void TakeByte(char c, HostLine& from, FaceOutput& out);
    // Adds a byte to the line from the host, within the longest line.
    static void Keep(char c, HostLine& from);
    void EndOfLine(HostLine& from, FaceOutput& out);
    void Command(const std::string& text, FaceOutput& out);
    // A message for the addressed listener, with the terminator ++eos names.
    void Message(const std::string& data, FaceOutput& out);
    void Talk(FaceOutput& out);
    bool InstrumentAddressed() const;
    // "++name" alone asks a setting; with a number it sets it (within 0..highest).
    void Setting(const std::string& argument, int& value, int highest, FaceOutput& out);
    void Addressing(const std::string& argument, FaceOutput& out);

    GpibFaceSettings settings_;
    DeliverLine deliver_;
    // The line arriving from the host.
    HostLine line_;
    // The controller's settings.
    int mode_ = 1;
    int autoRead_ = 0;
    int eoi_ = 1;
    int eos_ = 0;
    int readTimeoutMs_ = 500;
    int primary_ = 0;
    int secondary_ = -1;
    int readsAnswered_ = 0;
    bool silent_ = false;
    // The instrument's side of the bus.
    LineInput input_;                  // bytes it took, cut into lines
    std::deque<std::string> replies_;  // waiting for the controller to read them
};

}  // namespace kr470
