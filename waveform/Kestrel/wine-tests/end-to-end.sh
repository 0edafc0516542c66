# Whole updates through the Win32 windows: filled in by the Windows port.
