// The console update procedure: checks the update file against the connected
// instrument, runs the download dialogue and commits the new firmware.
#pragma once

namespace osprey {

class SerialLink;

// Empties the instrument's error queue, printing each error's text. True when
// at least one error was reported.
bool CheckInstrumentErrors(SerialLink& link);

// Before the port is opened: when the update file exists but is no regular
// file of a size the reader takes (a directory, a FIFO, a device), says so
// and returns true. A missing file is left to RunUpdate.
bool RefuseUnusableUpdateFile(const char* updateFileName);

// Returns 0 when the new firmware was committed, 1 on every failure or
// refusal; reports everything itself. `identification` is the "*IDN?" reply,
// split in place. Link failures are thrown as LinkError codes.
int RunUpdate(const char* updateFileName, char* identification, SerialLink& link);

}  // namespace osprey
