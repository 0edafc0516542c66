# instrument-io for Windows: the same public headers (include/kio/) and the
# same sessions, bus table, aliases and configuration as on Linux; Winsock for
# TCP sockets, the Win32 serial module for serial ports, %APPDATA% for the
# configuration file. GPIB through a "++" controller and VXI-11 are the Linux
# source over those transports: VXI-11's RPC client works on a kio::Transport
# and the shared wire library (rpc/), so one client serves both platforms.
#
# A static library: the plug-in's DLL links it in, so the DLL is the only file
# a host needs, and exports nothing of it.
add_library(instrument_io STATIC src/Address.cpp src/AliasRoute.cpp src/AsrlBus.cpp
  src/BusTable.cpp src/Config.cpp src/GpibBus.cpp src/GpibController.cpp src/GpibScan.cpp src/LineKey.cpp src/NameLookup.cpp
  src/Session.cpp src/TcpipBus.cpp src/Vxi11Address.cpp src/Vxi11Bus.cpp
  src/Vxi11Messages.cpp src/Vxi11Transport.cpp src/RpcClient.cpp src/WinProcessId.cpp
  src/WinSerialNames.cpp src/WinTcpTransport.cpp)
# kio::OpenSerial on the Win32 serial module that Osprey.exe uses too.
target_sources(instrument_io PRIVATE src/WinSerialTransport.cpp)
target_link_libraries(instrument_io PRIVATE kr470_win_serial)
target_include_directories(instrument_io PUBLIC include PRIVATE src)
# The Windows headers' min/max macros would stand in for std::min and std::max.
target_compile_definitions(instrument_io PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
target_link_libraries(instrument_io PUBLIC ws2_32 PRIVATE kr470_fileio kr470_rpc_wire
  kr470_build_options)

if(KR470_TESTS)
  include(WindowsTests.cmake)
endif()
