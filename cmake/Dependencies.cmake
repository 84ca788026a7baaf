# Every outside library the areas link against, as imported targets.
find_package(OpenSSL 3 REQUIRED)
find_package(CURL REQUIRED)
find_package(ZLIB REQUIRED)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core Xml Gui Widgets PrintSupport)

pkg_check_modules(CJSON REQUIRED IMPORTED_TARGET libcjson)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)

# http-parser ships no pkg-config file on Debian.
find_path(HTTP_PARSER_INCLUDE_DIR http_parser.h REQUIRED)
find_library(HTTP_PARSER_LIBRARY http_parser REQUIRED)
add_library(http_parser::http_parser UNKNOWN IMPORTED)
set_target_properties(http_parser::http_parser PROPERTIES
  IMPORTED_LOCATION ${HTTP_PARSER_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${HTTP_PARSER_INCLUDE_DIR})

# Qt makes /tmp/runtime-<user> for a process without XDG_RUNTIME_DIR and
# leaves it there. Every test gets instead this folder of the run, made (mode
# 0700, by whoever runs the tests) before the first test that needs it and
# removed after the last: the fixture plenwick_runtime. Qt refuses another
# user's folder (and falls back to /tmp), so a test that runs a Qt program as
# another user gives it a folder of that user's own.
set(PLENWICK_TEST_RUNTIME ${CMAKE_BINARY_DIR}/test-runtime)
function(plenwick_runtime_fixture)
  add_test(NAME runtime_folder_make
    COMMAND sh -c "rm -rf \"$0\" && mkdir -m 0700 \"$0\"" ${PLENWICK_TEST_RUNTIME})
  add_test(NAME runtime_folder_remove COMMAND rm -rf ${PLENWICK_TEST_RUNTIME})
  set_tests_properties(runtime_folder_make PROPERTIES FIXTURES_SETUP plenwick_runtime)
  set_tests_properties(runtime_folder_remove PROPERTIES FIXTURES_CLEANUP plenwick_runtime)
endfunction()
# plenwick_uses_runtime(<test>...): tests of add_test get the folder too.
function(plenwick_uses_runtime)
  set_property(TEST ${ARGN} APPEND PROPERTY
    ENVIRONMENT_MODIFICATION XDG_RUNTIME_DIR=set:${PLENWICK_TEST_RUNTIME})
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED plenwick_runtime)
endfunction()

# plenwick_test(<name> <sources...> [LIBS ...] [LABELS ...] [SERIAL] [ISOLATED])
# One GoogleTest binary; each case becomes its own CTest test. ISOLATED cases
# run in namespaces of their own (tests/support/isolated.sh): they may use port
# 18086, the fixed names and /dev/shm while the real programs run. SERIAL
# cases also share one lock, for what namespaces do not separate (the print
# settings file of the test folder, the machine's load during timed waits);
# SERIAL implies ISOLATED.
set(PLENWICK_ISOLATED_RUNNER ${CMAKE_CURRENT_LIST_DIR}/../tests/support/isolated.sh)
function(plenwick_test name)
  cmake_parse_arguments(T "SERIAL;ISOLATED" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_SOURCES)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    PLENWICK_SOURCE_DIR="${CMAKE_SOURCE_DIR}" PLENWICK_BIN_DIR="${PLENWICK_BIN_DIR}")
  # One value a property: gtest_discover_tests splits lists.
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    ENVIRONMENT_MODIFICATION "XDG_RUNTIME_DIR=set:${PLENWICK_TEST_RUNTIME}"
    FIXTURES_REQUIRED plenwick_runtime LABELS "${T_LABELS}")
  if(T_SERIAL OR T_ISOLATED)
    # GoogleTest's discovery and every case run through the emulator command.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${PLENWICK_ISOLATED_RUNNER}")
    list(APPEND props SKIP_RETURN_CODE 77)
  endif()
  if(T_SERIAL)
    list(APPEND props RESOURCE_LOCK plenwick_fixed_names)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
