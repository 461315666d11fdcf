# libFuzzer with ASan and UBSan: the logic is instrumented for coverage,
# each target in tests/fuzz links the fuzzer's own main.
target_compile_options(tamsel_core PUBLIC -fsanitize=fuzzer-no-link,address,undefined
  -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_link_options(tamsel_core PUBLIC -fsanitize=address,undefined)
# toml++'s white-space check ends in __builtin_unreachable for non-ASCII
# code points (see cmake/unit.cmake); the sweep test covers it there.
set_source_files_properties(src/common/toml.cpp PROPERTIES COMPILE_OPTIONS -fno-sanitize=unreachable)
add_subdirectory(tests/fuzz)
