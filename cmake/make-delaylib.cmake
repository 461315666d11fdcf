# cmake -P: writes a delay-import library for DLL from the functions its
# ordinary import library IMPORT_LIB exports (each has an __imp_ symbol).
execute_process(COMMAND "${NM}" -g --defined-only "${IMPORT_LIB}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${IMPORT_LIB}")
endif()
string(REGEX MATCHALL "__imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
list(REMOVE_DUPLICATES imports)
list(SORT imports)
set(def "LIBRARY ${DLL}.dll\nEXPORTS\n")
foreach(symbol ${imports})
  string(REGEX REPLACE "^__imp_" "" name "${symbol}")
  string(APPEND def "${name}\n")
endforeach()
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${OUT}.def" "${def}")
execute_process(COMMAND "${DLLTOOL}" --machine i386:x86-64 --input-def "${OUT}.def"
  --dllname "${DLL}.dll" --output-delaylib "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUT}")
endif()
