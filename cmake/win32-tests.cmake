# The Win32 tier: helpers, stand-ins and the platform tests. Cross-built, they
# run under Wine through our harness, which owns a throw-away prefix inside
# this build folder; built on Windows, they run as they are.
set(wine_harness "${CMAKE_CURRENT_SOURCE_DIR}/tests/support/wine-run")
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${wine_harness};--prefix;${CMAKE_BINARY_DIR}/wineprefix")
endif()

add_subdirectory(bench)  # built, never run by CTest

# Helpers of the end-to-end tier.
add_executable(tamsel-hold-mutex tests/support/hold_mutex.cpp)
add_executable(tamsel-fake-updater WIN32 tests/support/fake_updater.cpp)
add_executable(tamsel-bridge-probe tests/support/bridge_probe.cpp src/app/process_main.cpp)
target_link_libraries(tamsel-bridge-probe PRIVATE tamsel_win32)
if(MINGW)
  target_link_options(tamsel-hold-mutex PRIVATE -static -municode)
  target_link_options(tamsel-fake-updater PRIVATE -static -municode)
  target_link_options(tamsel-bridge-probe PRIVATE -municode)
endif()

if(CMAKE_CROSSCOMPILING)
  # GoogleTest cross-built from Debian's sources.
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_CURRENT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  set(tamsel_platform_gtest gtest_main gmock)
else()
  find_package(GTest REQUIRED)  # on Windows itself, from a package manager (vcpkg)
  set(tamsel_platform_gtest GTest::gtest_main GTest::gmock)
endif()
include(GoogleTest)
file(GLOB tamsel_platform_test_sources CONFIGURE_DEPENDS tests/win32/*.cpp)
# toml++'s white-space check compiles to different code on each compiler, so
# its sweep over every code point runs in both tiers.
list(APPEND tamsel_platform_test_sources tests/unit/toml_whitespace_test.cpp)
add_executable(tamsel_platform_tests ${tamsel_platform_test_sources})
target_include_directories(tamsel_platform_tests PRIVATE tests)
target_link_libraries(tamsel_platform_tests PRIVATE tamsel_win32 ${tamsel_platform_gtest})
set(TAMSEL_TEST_SERVER_CONTROL_PORT 8444 CACHE STRING "Loopback control port of the local HTTPS test server")
target_compile_definitions(tamsel_platform_tests PRIVATE
  TAMSEL_VECTORS_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/vectors"
  TAMSEL_TEST_SERVER_CONTROL_PORT=${TAMSEL_TEST_SERVER_CONTROL_PORT})
# The product itself, for the message table compiled into it.
set(tamsel_update_exe "$<TARGET_FILE:tamsel-update>")
if(CMAKE_CROSSCOMPILING)
  set(tamsel_update_exe "Z:${tamsel_update_exe}")
endif()
target_compile_definitions(tamsel_platform_tests PRIVATE TAMSEL_UPDATE_EXE="${tamsel_update_exe}")
add_dependencies(tamsel_platform_tests tamsel-update)
add_subdirectory(tests/standin)

if(CMAKE_CROSSCOMPILING)
  # The Wine prefix is made once per build folder and torn down at the end.
  add_test(NAME wine.setup COMMAND "${wine_harness}" --prefix "${CMAKE_BINARY_DIR}/wineprefix" --setup)
  add_test(NAME wine.teardown COMMAND "${wine_harness}" --prefix "${CMAKE_BINARY_DIR}/wineprefix" --teardown)
  set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.teardown PROPERTIES FIXTURES_CLEANUP wine)
  set(tamsel_platform_fixture FIXTURES_REQUIRED wine)
endif()
gtest_discover_tests(tamsel_platform_tests TEST_PREFIX "win32."
  DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES ${tamsel_platform_fixture} RUN_SERIAL TRUE TIMEOUT 120)
