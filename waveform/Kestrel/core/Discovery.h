// What the instrument finder's discovery control works with, free of widgets:
// the search criteria, the candidate addresses on this machine, and asking a
// candidate who it is.
#pragma once

#include <filesystem>
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

// Serial devices present under `dev` (real UARTs only among ttyS*, judged by
// `sysTty`), then the addresses the I/O configuration names. Each once.
std::vector<std::string> CandidateAddresses(const std::filesystem::path& dev = "/dev",
                                            const std::filesystem::path& sysTty = "/sys/class/tty");

struct ProbeResult {
    std::string identification;  // the "*IDN?" reply, or empty
    std::string model;           // field 1 of it
    std::string error;           // why there is no reply
    bool supported = false;      // the model is in the criteria's model list
};

// Opens the address within `timeoutMs`, asks "*IDN?" within `timeoutMs`
// and closes it again.
ProbeResult ProbeInstrument(IOFactory& factory, const std::string& address, int32_t timeoutMs,
                            const KeyedCollection* models);

// An I/O object for an address that opens the connection on its first use,
// so that a pick in the finder does not hold the port the update needs.
std::shared_ptr<InstrumentIO> MakeDeferredIO(std::shared_ptr<IOFactory> factory,
                                             const std::string& address);

}  // namespace kestrel
