// What the instrument finder's discovery control works with, free of widgets:
// the search criteria, the candidate addresses on this machine, and asking a
// candidate who it is.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "InstrumentIO.h"

namespace kestrel {

// A keyed collection of strings; a key may be used once (ignoring case).
class KeyedCollection {
  public:
    // Throws RuntimeError 457 when the key is already taken.
    void Add(const std::string& item, const std::string& key);
    size_t Count() const { return entries_.size(); }
    bool Contains(const std::string& item) const;
    const std::vector<std::pair<std::string, std::string>>& Entries() const { return entries_; }

  private:
    std::vector<std::pair<std::string, std::string>> entries_;  // key, item
};

// Which instruments the control offers, and the I/O object of the one the
// user connected to (null until then).
struct SearchCriteria {
    std::string InstrumentCodeName;
    std::shared_ptr<KeyedCollection> ModelList;
    std::shared_ptr<KeyedCollection> SecondList;
    std::shared_ptr<InstrumentIO> IOObject;
};

// The serial ports present, as the serial library lists them (the device
// tree below `sys`, the nodes below `dev`), as ASRL addresses: each port's
// device in the listing's order, followed by its /dev/serial/by-id name.
std::vector<std::string> SerialPortAddresses(const std::filesystem::path& dev = "/dev",
                                             const std::filesystem::path& sys = "/sys");

// What a search shows: the addresses the user configured, which it asks who
// they are; the serial ports merely present, which it lists without sending
// them anything; and what kept part of the configuration from being read.
struct SearchList {
    std::vector<std::string> asked;
    std::vector<std::string> listed;
    std::vector<std::string> problems;
};
SearchList FindSearchList(const std::filesystem::path& dev = "/dev",
                          const std::filesystem::path& sys = "/sys");

// The addresses to ask as jobs of their own: the instruments of one GPIB
// board (all behind one controller, which takes one exchange at a time) form
// one job, in their order; every other address is a job alone. Indexes into
// `addresses`.
std::vector<std::vector<size_t>> ProbeJobs(const std::vector<std::string>& addresses);

struct ProbeResult {
    std::string identification;  // the "*IDN?" reply, or empty
    std::string model;           // field 1 of it
    std::string error;           // why there is no reply
    bool supported = false;      // the model is in the criteria's model list
};

// Whether the search that started a probe still wants its answers; a probe
// asks before each step and stops when not.
using StillWanted = std::function<bool()>;

// Opens the address within `timeoutMs`, asks "*IDN?" within `timeoutMs`
// and closes it again.
ProbeResult ProbeInstrument(IOFactory& factory, const std::string& address, int32_t timeoutMs,
                            const KeyedCollection* models, const StillWanted& wanted = {});

// How long one address behind a GPIB controller has to answer "*IDN?" in a
// scan: an instrument there answers within milliseconds, and a scan of all
// 31 addresses must stay within a few seconds.
inline constexpr int32_t kGpibRoundTimeoutMs = 100;

// Asks the addresses of one GPIB board in turn, each opened within
// `openTimeoutMs` and given kGpibRoundTimeoutMs to answer, keeping the
// controller's connection open from one to the next; `report` gets each
// address's index and result. An address that does not answer is passed
// over; any other failure means the controller itself is gone, and the
// addresses after it are reported not asked.
void ProbeInTurn(IOFactory& factory, const std::vector<std::string>& addresses,
                 int32_t openTimeoutMs, const KeyedCollection* models, const StillWanted& wanted,
                 const std::function<void(size_t, const ProbeResult&)>& report);

// An I/O object for an address that opens the connection on its first use,
// so that a pick in the finder does not hold the port the update needs.
std::shared_ptr<InstrumentIO> MakeDeferredIO(std::shared_ptr<IOFactory> factory,
                                             const std::string& address);

}  // namespace kestrel
