# Registration, VBScript and C++ client tests: filled in by the Windows port.
