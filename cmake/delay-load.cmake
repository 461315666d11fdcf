# Delay-loaded system DLLs: loaded on the first call into them instead of at
# start, so a pass that has nothing to do pays only for what it uses.
#
#   tamsel_delay_load(<target> <dll name without .dll>...)
#
# MSVC: /DELAYLOAD with delayimp.lib. MinGW (GCC or clang): a delay-import
# library made by dlltool from the names the ordinary import library exports,
# linked before it so that it wins.
if(MINGW)
  find_program(TAMSEL_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
  find_program(TAMSEL_NM NAMES x86_64-w64-mingw32-nm REQUIRED)
endif()

function(tamsel_delay_load target)
  foreach(dll ${ARGN})
    if(MSVC)
      target_link_options(${target} PRIVATE "/DELAYLOAD:${dll}.dll")
    elseif(MINGW)
      set(delaylib "${CMAKE_BINARY_DIR}/delay-load/libdelay-${dll}.a")
      if(NOT TARGET tamsel_delay_${dll})
        find_library(tamsel_import_${dll} NAMES ${dll} lib${dll}.a REQUIRED)
        add_custom_command(OUTPUT "${delaylib}"
          COMMAND "${CMAKE_COMMAND}" -DNM=${TAMSEL_NM} -DDLLTOOL=${TAMSEL_DLLTOOL}
                  -DIMPORT_LIB=${tamsel_import_${dll}} -DDLL=${dll} -DOUT=${delaylib}
                  -P "${PROJECT_SOURCE_DIR}/cmake/make-delaylib.cmake"
          DEPENDS "${PROJECT_SOURCE_DIR}/cmake/make-delaylib.cmake"
          COMMENT "Delay-import library for ${dll}.dll"
          VERBATIM)
        add_custom_target(tamsel_delay_${dll} DEPENDS "${delaylib}")
      endif()
      add_dependencies(${target} tamsel_delay_${dll})
      target_link_libraries(${target} PRIVATE "${delaylib}")
    endif()
  endforeach()
  if(MSVC)
    target_link_libraries(${target} PRIVATE delayimp)
  endif()
endfunction()
