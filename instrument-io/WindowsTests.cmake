# The library's tests under Wine: sessions, the bus table, the configuration
# file's place and the Winsock transport, against loopback listeners of the
# test's own and the simulator. The simulator is the native (Linux) program:
# a script starts it on a loopback port, gives the test program that port,
# and stops it after.
set(KR470_NATIVE_SIMULATOR ${PROJECT_SOURCE_DIR}/build/tools/kr470-sim/kr470-sim CACHE FILEPATH
  "The native simulator the Windows tests talk to over loopback TCP")

# kr470_add_wine_test(<program> [VXI11]): the cross-compiled test program as
# one test, run under Wine beside the native simulator (its VXI-11 face with
# VXI11, else its line face).
function(kr470_add_wine_test program)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "VXI11" "" "")
  set(face)
  if(ARG_VXI11)
    set(face --vxi11)
  endif()
  add_test(NAME ${program}
    COMMAND bash ${PROJECT_SOURCE_DIR}/instrument-io/tests/with-native-simulator.sh ${face}
      ${KR470_NATIVE_SIMULATOR} ${KR470_WINE} $<TARGET_FILE:${program}>)
  set_tests_properties(${program} PROPERTIES TIMEOUT 60)
endfunction()

add_executable(kio_win_tests tests/WinSessionTest.cpp)
target_link_libraries(kio_win_tests PRIVATE instrument_io kr470_test_support GTest::gtest_main
  kr470_build_options)
target_include_directories(kio_win_tests PRIVATE src)
target_compile_definitions(kio_win_tests PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
kr470_add_wine_test(kio_win_tests)

# VXI-11 through the shared RPC core: a session with the simulator's core
# channel, and a hostile reply announcing 4 GB against the process's memory.
add_executable(kio_win_vxi11_tests tests/WinVxi11Test.cpp)
target_link_libraries(kio_win_vxi11_tests PRIVATE instrument_io kr470_rpc_wire kr470_test_support
  GTest::gtest_main psapi kr470_build_options)
target_include_directories(kio_win_vxi11_tests PRIVATE src)
target_compile_definitions(kio_win_vxi11_tests PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
kr470_add_wine_test(kio_win_vxi11_tests VXI11)

# GPIB through a "++" controller: the simulator plays the controller.
add_executable(kio_win_gpib_tests tests/WinGpibTest.cpp)
target_link_libraries(kio_win_gpib_tests PRIVATE instrument_io kr470_test_support
  GTest::gtest_main kr470_build_options)
target_include_directories(kio_win_gpib_tests PRIVATE src)
target_compile_definitions(kio_win_gpib_tests PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
kr470_add_wine_test(kio_win_gpib_tests)
set_tests_properties(kio_win_gpib_tests PROPERTIES ENVIRONMENT KR470_SIM_OPTIONS=--gpib-controller)
