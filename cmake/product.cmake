# The Win32 layer and the executables made from it.
enable_language(RC)
file(GLOB tamsel_win32_sources CONFIGURE_DEPENDS src/platform/win32/*.cpp)
add_library(tamsel_win32 STATIC ${tamsel_win32_sources})
target_include_directories(tamsel_win32 PUBLIC src)
target_compile_definitions(tamsel_win32 PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_options(tamsel_win32 PRIVATE ${tamsel_warnings})
target_link_libraries(tamsel_win32 PUBLIC tamsel_core
  winhttp bcrypt version wtsapi32 advapi32 shell32 ole32 uuid user32 crypt32 userenv)
if(MINGW)
  # One self-contained executable each: no MinGW runtime DLLs beside it.
  # Every function and datum in a section of its own, and the link drops the
  # ones nothing reaches (much of the static C++ runtime): this keeps the
  # shipped exe inside its size budget (bench/size_budget.sh).
  target_compile_options(tamsel_core PRIVATE -ffunction-sections -fdata-sections)
  target_compile_options(tamsel_win32 PRIVATE -ffunction-sections -fdata-sections)
  target_link_options(tamsel_win32 PUBLIC -static -Wl,--gc-sections)
endif()

# The event log's message table: the texts of the event ids the updater
# reports, compiled from the checked-in message file into MSG00409.bin
# (English), which the resource script below includes.
set(tamsel_mc_dir "${CMAKE_CURRENT_BINARY_DIR}/generated/messages")
set(tamsel_mc_bin "${tamsel_mc_dir}/MSG00409.bin")
set(tamsel_mc_source "${CMAKE_CURRENT_SOURCE_DIR}/src/app/tamsel-update.mc")
if(MSVC)
  # The Windows SDK's message compiler (not run on the Linux machines). It
  # lies beside rc.exe; the Visual Studio generators put neither on PATH.
  get_filename_component(tamsel_rc_dir "${CMAKE_RC_COMPILER}" DIRECTORY)
  set(tamsel_program_files "ProgramFiles(x86)")  # a name $ENV{} cannot spell in place
  set(tamsel_kits "$ENV{${tamsel_program_files}}/Windows Kits/10/bin")
  find_program(TAMSEL_MC NAMES mc REQUIRED HINTS "${tamsel_rc_dir}"
    "${tamsel_kits}/${CMAKE_VS_WINDOWS_TARGET_PLATFORM_VERSION}/x64" "${tamsel_kits}/x64")
  set(tamsel_mc_command "${TAMSEL_MC}" -h "${tamsel_mc_dir}" -r "${tamsel_mc_dir}" "${tamsel_mc_source}")
else()
  find_program(TAMSEL_WINDMC NAMES x86_64-w64-mingw32-windmc windmc REQUIRED)
  set(tamsel_mc_command "${TAMSEL_WINDMC}" -h "${tamsel_mc_dir}" -r "${tamsel_mc_dir}" "${tamsel_mc_source}")
endif()
add_custom_command(OUTPUT "${tamsel_mc_bin}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${tamsel_mc_dir}"
  COMMAND ${tamsel_mc_command}
  DEPENDS "${tamsel_mc_source}"
  COMMENT "Message table of the event log"
  VERBATIM)

# The version resource carries the project's version.
configure_file(src/app/tamsel-update.rc.in generated/tamsel-update.rc @ONLY)
set_source_files_properties("${CMAKE_CURRENT_BINARY_DIR}/generated/tamsel-update.rc" PROPERTIES
  OBJECT_DEPENDS "${tamsel_mc_bin}")

include(cmake/delay-load.cmake)
# What a pass with nothing to do needs loads at start (advapi32 for the
# account, the mutex, the folder guard and the event log; shell32 and ole32
# for the command line and the ProgramData folder); the rest loads when a
# later step calls it.
set(tamsel_delay_loaded_dlls user32 winhttp wtsapi32 version bcrypt)

# The product and the testbed share everything but their composition root.
# A release configuration builds the product alone: the testbed counts
# whoever runs it as the system account.
set(tamsel_flavours update)
if(NOT TAMSEL_RELEASE)
  list(APPEND tamsel_flavours testbed)
endif()
foreach(flavour ${tamsel_flavours})
  add_executable(tamsel-${flavour} WIN32 src/app/main_${flavour}.cpp src/app/process_main.cpp
    src/app/delay_load_hooks.cpp "${CMAKE_CURRENT_BINARY_DIR}/generated/tamsel-update.rc" "${tamsel_mc_bin}")
  target_link_libraries(tamsel-${flavour} PRIVATE tamsel_win32)
  target_compile_options(tamsel-${flavour} PRIVATE ${tamsel_warnings})
  tamsel_delay_load(tamsel-${flavour} ${tamsel_delay_loaded_dlls})
  if(MINGW)
    target_link_options(tamsel-${flavour} PRIVATE -municode)  # wWinMain
  endif()
endforeach()
if(TAMSEL_RELEASE AND MINGW)
  # Shipped stripped; the debug information stays beside it in a file of
  # its own, linked by name and CRC for a debugger.
  find_program(TAMSEL_OBJCOPY NAMES x86_64-w64-mingw32-objcopy objcopy REQUIRED)
  add_custom_command(TARGET tamsel-update POST_BUILD
    COMMAND "${TAMSEL_OBJCOPY}" --only-keep-debug "$<TARGET_FILE:tamsel-update>" "$<TARGET_FILE:tamsel-update>.debug"
    COMMAND "${TAMSEL_OBJCOPY}" --strip-all "$<TARGET_FILE:tamsel-update>"
    COMMAND "${TAMSEL_OBJCOPY}" --add-gnu-debuglink=$<TARGET_FILE_NAME:tamsel-update>.debug "$<TARGET_FILE_NAME:tamsel-update>"
    WORKING_DIRECTORY "$<TARGET_FILE_DIR:tamsel-update>"
    COMMENT "Stripping tamsel-update.exe; debug information in tamsel-update.exe.debug"
    VERBATIM)
  # Authenticode, when given the signing script's arguments (certificate
  # and key or PKCS#12, passphrase source, timestamp; a CMake list).
  set(TAMSEL_AUTHENTICODE_ARGS "" CACHE STRING
    "Arguments of scripts/sign-windows-binaries.sh; empty: tamsel-update.exe is not signed")
  if(TAMSEL_AUTHENTICODE_ARGS)
    add_custom_command(TARGET tamsel-update POST_BUILD
      COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/sign-windows-binaries.sh" ${TAMSEL_AUTHENTICODE_ARGS}
              "$<TARGET_FILE:tamsel-update>"
      COMMENT "Signing tamsel-update.exe (Authenticode)"
      VERBATIM)
  endif()
endif()
