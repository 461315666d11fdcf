# --- toml++ : header-only everywhere except one implementation file.
# MinGW must not search /usr/include (glibc headers), so it gets a private
# include folder that holds only a link to toml++.
if(MINGW)
  set(tamsel_toml_include "${CMAKE_CURRENT_BINARY_DIR}/toml-include")
  file(MAKE_DIRECTORY "${tamsel_toml_include}")
  if(NOT EXISTS "${tamsel_toml_include}/toml++")
    file(CREATE_LINK /usr/include/toml++ "${tamsel_toml_include}/toml++" SYMBOLIC)
  endif()
elseif(NOT WIN32)
  set(tamsel_toml_include "")  # found in the system include path
else()
  find_path(tamsel_toml_include toml++/toml.h REQUIRED)
endif()

# --- Warnings. The product code stays free of GCC-only constructs so the same
# project builds with MSVC.
if(MSVC)
  set(tamsel_warnings /W4 /permissive- /utf-8)
else()
  set(tamsel_warnings -Wall -Wextra -Wpedantic)
endif()

# --- The portable logic: no <windows.h> anywhere below these folders.
file(GLOB_RECURSE tamsel_core_sources CONFIGURE_DEPENDS
  src/common/*.cpp src/entry/*.cpp src/feed/*.cpp src/state/*.cpp
  src/update/*.cpp src/session/*.cpp)
add_library(tamsel_core STATIC ${tamsel_core_sources})
target_include_directories(tamsel_core PUBLIC src "${CMAKE_CURRENT_BINARY_DIR}/generated")
if(tamsel_toml_include)
  target_include_directories(tamsel_core SYSTEM PUBLIC "${tamsel_toml_include}")
endif()
target_compile_definitions(tamsel_core PUBLIC TOML_HEADER_ONLY=0 TOML_EXCEPTIONS=0)
target_compile_options(tamsel_core PRIVATE ${tamsel_warnings})
