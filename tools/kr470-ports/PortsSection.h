// The ports-file section that makes a device COM<n> for Osprey, and adding it
// to the ports file.
#pragma once

#include <string>

namespace kr470 {

// "[COM<n>]\ndevice = ...\nsettings = ...\n"
std::string PortsSection(int number, const std::string& device, const std::string& settings);

// The ports file in force: OSPREY_PORTS, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/osprey/ports.ini.
std::string DefaultPortsFile();

// True when the text already has a section for COM<n> (or ASRL<n>), in any case.
bool HasPortSection(const std::string& fileText, int number);

// Appends the section (making the folder), refusing a port the file already
// names. The file is read and written under fileio's rules: a regular file of
// at most 1 MiB, replaced whole (its mode kept), and never a symbolic link,
// which is refused rather than written through. Returns an empty text, or why
// it did not.
std::string AppendPortsSection(const std::string& path, int number, const std::string& section);

}  // namespace kr470
