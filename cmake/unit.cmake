# Unit tier: the portable logic and its unit tests; on Linux with ASan and
# UBSan, on Windows (MSVC) as they are.
if(NOT MSVC)
  option(TAMSEL_SANITIZE "Build with AddressSanitizer and UBSan" ON)
  if(TAMSEL_SANITIZE)
    # Directory-wide for every target made from here on (unit tests, tools);
    # tamsel_core exists already and passes them on to whatever links it.
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    target_compile_options(tamsel_core PUBLIC -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(tamsel_core PUBLIC -fsanitize=address,undefined)
    # toml++ 3.3's generated white-space check ends in __builtin_unreachable
    # for 3,019 non-ASCII code points (Cyrillic among them), so UBSan would
    # abort on ordinary text. toml_whitespace_test checks code point by code
    # point what the compiler made of those paths instead.
    set_source_files_properties(src/common/toml.cpp PROPERTIES COMPILE_OPTIONS -fno-sanitize=unreachable)
  endif()
endif()
find_package(GTest REQUIRED)
include(GoogleTest)

if(NOT TAMSEL_RELEASE)
  file(GLOB tamsel_unit_sources CONFIGURE_DEPENDS tests/unit/*.cpp tests/fakes/*.cpp)
  add_executable(tamsel_unit_tests ${tamsel_unit_sources})
  target_include_directories(tamsel_unit_tests PRIVATE tests)
  target_link_libraries(tamsel_unit_tests PRIVATE tamsel_core GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(tamsel_unit_tests PRIVATE
    TAMSEL_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
    TAMSEL_VECTORS_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/vectors")
  gtest_discover_tests(tamsel_unit_tests TEST_PREFIX "unit." DISCOVERY_TIMEOUT 60)
endif()

# The layer order of src/ (README, Layout): no file includes from a higher
# layer, and only the composition roots reach behind the platform interfaces.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT TAMSEL_RELEASE)
  add_test(NAME layers.includes
    COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-layers.py" "${CMAKE_CURRENT_SOURCE_DIR}")
endif()

# The Group Policy templates must be well-formed XML, or the policy editors
# refuse them (libxml2-utils' xmllint).
find_program(TAMSEL_XMLLINT xmllint)
if(TAMSEL_XMLLINT AND NOT TAMSEL_RELEASE)
  add_test(NAME policy_templates.wellformed
    COMMAND "${TAMSEL_XMLLINT}" --noout
      "${CMAKE_CURRENT_SOURCE_DIR}/deploy/policy/tamsel-update.admx"
      "${CMAKE_CURRENT_SOURCE_DIR}/deploy/policy/en-US/tamsel-update.adml")
  if(Python3_Interpreter_FOUND)
    # The MSI, the scripts and the templates use the names in product_names.h.
    add_test(NAME deploy_kit.consistent
      COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/tests/support/check_deploy_kit.py"
        "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
endif()
