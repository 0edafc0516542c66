// What a host's process looks like to the C library: its locale, its signal
// dispositions and its environment. Making a Qt application changes all
// three (the locale from the user's settings above all), and a host that
// never asked for a toolkit must find its process as it left it.
#pragma once

#include <signal.h>

#include <map>
#include <string>
#include <vector>

namespace kestrel {

class HostProcessState {
  public:
    // Takes the state as it is now.
    HostProcessState();

    // Puts back whatever changed since: the locale of every category, each
    // signal's disposition, each environment variable's value or absence.
    void Restore() const;

  private:
    std::string locale_;
    std::vector<std::pair<int, struct sigaction>> signals_;
    std::map<std::string, std::string> environment_;
};

}  // namespace kestrel
