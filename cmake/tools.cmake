# The vendor tool. A release configuration builds it too, with the release
# host and keys as its defaults, but not its tests.
add_subdirectory(tools)
if(NOT TAMSEL_RELEASE)
  add_subdirectory(bench)  # built, never run by CTest
endif()
