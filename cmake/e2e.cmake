# End-to-end tier: the updater and its stand-ins under Wine, against one local
# HTTPS test server on 127.0.0.1:443 that serves the whole tier. The server is
# part of the `wine` fixture, so it runs from before the first test to after
# the last and no test binds 443 beside it. End-to-end tests point it at
# their folder through its control port (tests/support/https_server.py).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(https_server_script "${CMAKE_CURRENT_SOURCE_DIR}/tests/support/https_server.py")
set(https_server_pid "${CMAKE_BINARY_DIR}/https-server.pid")
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/https-root")
add_test(NAME https_server.start COMMAND "${Python3_EXECUTABLE}" "${https_server_script}" start
  --pki "${CMAKE_BINARY_DIR}/test-pki" --root "${CMAKE_BINARY_DIR}/https-root"
  --control-port ${TAMSEL_TEST_SERVER_CONTROL_PORT} --lifetime 3600 --wait-for-port 300
  --pid-file "${https_server_pid}")
add_test(NAME https_server.stop COMMAND "${Python3_EXECUTABLE}" "${https_server_script}" stop
  --pid-file "${https_server_pid}")
set_tests_properties(https_server.start PROPERTIES
  FIXTURES_SETUP "wine;https_server" DEPENDS wine.setup TIMEOUT 400)
set_tests_properties(https_server.stop PROPERTIES FIXTURES_CLEANUP "wine;https_server")

file(GLOB tamsel_e2e_tests CONFIGURE_DEPENDS tests/e2e/test_*.py)
foreach(script ${tamsel_e2e_tests})
  get_filename_component(name "${script}" NAME_WE)
  add_test(NAME e2e.${name} COMMAND "${Python3_EXECUTABLE}" "${script}")
  set_tests_properties(e2e.${name} PROPERTIES
    FIXTURES_REQUIRED wine RUN_SERIAL TRUE TIMEOUT 600
    ENVIRONMENT "TAMSEL_BUILD_DIR=${CMAKE_CURRENT_BINARY_DIR};TAMSEL_SOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR};TAMSEL_TEST_SERVER_CONTROL_PORT=${TAMSEL_TEST_SERVER_CONTROL_PORT}")
endforeach()
