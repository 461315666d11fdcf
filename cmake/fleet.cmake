# The fleet simulator: the updater's check run and phase two over the fakes
# for many machines and many days (native only). bench/fleet.sh runs it at
# size in an optimised build; CTest runs a small fleet that fails on any
# broken invariant, and the simulator's own tests.
if(TAMSEL_RELEASE)
  return()
endif()
find_package(OpenSSL REQUIRED)

add_library(tamsel_fleet STATIC
  bench/fleet/scenario.cpp bench/fleet/server.cpp bench/fleet/machines.cpp bench/fleet/schedule.cpp
  bench/fleet/figures.cpp tests/fakes/fake_platform.cpp)
target_include_directories(tamsel_fleet PUBLIC tests bench/fleet)
target_link_libraries(tamsel_fleet PUBLIC tamsel_core tamsel_reports OpenSSL::Crypto)
target_compile_options(tamsel_fleet PRIVATE ${tamsel_warnings})

add_executable(tamsel-fleet bench/fleet/main.cpp)
target_link_libraries(tamsel-fleet PRIVATE tamsel_fleet)
target_compile_options(tamsel-fleet PRIVATE ${tamsel_warnings})

if(BUILD_TESTING)
  add_executable(tamsel_fleet_tests bench/fleet/fleet_test.cpp)
  target_link_libraries(tamsel_fleet_tests PRIVATE tamsel_fleet GTest::gtest GTest::gtest_main)
  gtest_discover_tests(tamsel_fleet_tests TEST_PREFIX "fleet." DISCOVERY_TIMEOUT 60)
  add_test(NAME fleet.small_fleet
           COMMAND tamsel-fleet "${CMAKE_CURRENT_SOURCE_DIR}/bench/fleet/default.toml" --machines 200 --days 60 --no-blast)
  set_tests_properties(fleet.small_fleet PROPERTIES TIMEOUT 300)
endif()
