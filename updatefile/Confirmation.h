// Whether an instrument came back from a commit as the update file promised:
// its model, the serial number it had before, and the update's revision.
// Osprey uses it for its confirming query (OSPREY_CONFIRM), kr470-fleet for
// the identification the plug-in's procedure reads after the commit.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace osprey {

// What the update file promises: [Firmware Info] IDN and Revision.
struct UpdatePromise {
    std::string model;
    std::string revision;
};

// Null when the file cannot be opened.
std::optional<UpdatePromise> ReadUpdatePromise(const std::string& updateFile);

// Empty when `after` names the promised model and revision with the serial
// number of `before`; else why not, as one sentence without its full stop.
// A missing `after` means no identification came back.
std::string ConfirmationFailure(std::string_view before, const std::optional<std::string>& after,
                                const UpdatePromise& promise);

}  // namespace osprey
