# The VXI-11 client: its RPC types and XDR routines come from rpc/vxi11_core.x
# through rpcgen, its calls from libtirpc.
enable_language(C)
find_package(PkgConfig REQUIRED)
pkg_check_modules(TIRPC REQUIRED IMPORTED_TARGET libtirpc)
find_program(RPCGEN rpcgen REQUIRED)

set(vxi11_x ${CMAKE_CURRENT_SOURCE_DIR}/rpc/vxi11_core.x)
set(vxi11_out ${CMAKE_CURRENT_BINARY_DIR}/rpc)
file(MAKE_DIRECTORY ${vxi11_out})
add_custom_command(
  OUTPUT ${vxi11_out}/vxi11_core.h ${vxi11_out}/vxi11_core_xdr.c
  COMMAND ${CMAKE_COMMAND} -E copy ${vxi11_x} ${vxi11_out}/vxi11_core.x
  COMMAND ${RPCGEN} -h -o vxi11_core.h vxi11_core.x
  COMMAND ${RPCGEN} -c -o vxi11_core_xdr.c vxi11_core.x
  WORKING_DIRECTORY ${vxi11_out}
  DEPENDS ${vxi11_x}
  COMMENT "rpcgen vxi11_core.x")
# Generated code: its own warnings are not ours to fix.
set_source_files_properties(${vxi11_out}/vxi11_core_xdr.c PROPERTIES COMPILE_OPTIONS -w)
target_sources(instrument_io_objects PRIVATE ${vxi11_out}/vxi11_core.h ${vxi11_out}/vxi11_core_xdr.c
  src/RpcClient.cpp src/Vxi11Bus.cpp src/Vxi11Transport.cpp)
target_include_directories(instrument_io_objects PRIVATE ${vxi11_out})
target_link_libraries(instrument_io_objects PUBLIC PkgConfig::TIRPC)
