# instrument-io for Windows: filled in by the Windows port.
add_library(instrument_io INTERFACE)
