# Cross build for Windows x64 with Debian's clang, against the same MinGW-w64
# headers, C++ library (posix thread model) and linker as the GCC build: a
# second compiler that catches code only GCC accepts.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(tamsel_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${tamsel_mingw_triple})
set(CMAKE_CXX_COMPILER_TARGET ${tamsel_mingw_triple})
set(CMAKE_RC_COMPILER ${tamsel_mingw_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${tamsel_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# clang does not find Debian's MinGW libstdc++ on its own (the GCC folder is
# named "<version>-posix"), and must not search the host's /usr/include.
file(GLOB tamsel_mingw_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${tamsel_mingw_triple}/*-posix)
list(SORT tamsel_mingw_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET tamsel_mingw_gcc_dirs 0 tamsel_mingw_gcc)
if(NOT EXISTS "${tamsel_mingw_gcc}/include/c++")
  message(FATAL_ERROR "No MinGW-w64 libstdc++ (posix) under /usr/lib/gcc/${tamsel_mingw_triple}")
endif()
set(tamsel_sysroot "--sysroot=/usr/${tamsel_mingw_triple}")
set(CMAKE_C_FLAGS_INIT "${tamsel_sysroot}")
set(CMAKE_CXX_FLAGS_INIT "${tamsel_sysroot} -nostdinc++ -isystem ${tamsel_mingw_gcc}/include/c++ -isystem ${tamsel_mingw_gcc}/include/c++/${tamsel_mingw_triple} -isystem ${tamsel_mingw_gcc}/include/c++/backward")
# -pthread puts winpthreads, which the posix libstdc++ needs, into the
# driver's own library group. The link also sees the compile flags, whose
# -nostdinc++ it has no use for.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${tamsel_sysroot} -L${tamsel_mingw_gcc} -pthread -Wno-unused-command-line-argument")
