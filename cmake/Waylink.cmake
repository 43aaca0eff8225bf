# Shared build rules for every Waylink target.

# Warnings on for our own code; Qt's string casts stay strict where they help.
function(waylink_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  target_compile_definitions(${target} PRIVATE QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING
                                               QT_USE_QSTRINGBUILDER)
endfunction()

# waylink_add_library(name [SHARED|STATIC] SOURCES ... LIBS ...)
function(waylink_add_library name)
  cmake_parse_arguments(ARG "SHARED;STATIC" "" "SOURCES;LIBS;PUBLIC_LIBS" ${ARGN})
  if(ARG_STATIC)
    add_library(${name} STATIC ${ARG_SOURCES})
  else()
    add_library(${name} SHARED ${ARG_SOURCES})
  endif()
  waylink_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} PUBLIC ${ARG_PUBLIC_LIBS})
endfunction()

# waylink_add_module(px_Name SOURCES ... LIBS ...): a plug-in module library that the
# host loads by name at run time. It exports nothing by name; a static initialiser
# registers it. Output lands next to the program.
function(waylink_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  waylink_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# waylink_add_test(name SOURCES ... LIBS ... [GUI]): a GoogleTest executable under ctest.
# GUI tests run on the offscreen platform; discovery happens before the test runs so a
# QApplication is never created at build time.
function(waylink_add_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  waylink_target_defaults(${name})
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE waylink_testmain_gui)
  else()
    target_link_libraries(${name} PRIVATE waylink_testmain_core)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  waylink_discover_tests(${name} TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT QT_QPA_PLATFORM=offscreen WAYLINK_TEST=1)
endfunction()

# waylink_discover_tests(target [PREFIX p] [FILTER f] [TIMEOUT s] [ENVIRONMENT VAR=value ...]
#                        [EXTRA_ARGS ...] [PROPERTIES name value ...])
# Registers the tests of a GoogleTest executable with ctest. gtest_discover_tests splits a
# list-valued property (ENVIRONMENT "A;B") into separate arguments on its way to
# set_tests_properties, so every variable but the first was lost. The environment is set
# instead by a file that ctest reads after the discovered tests, from their name list.
function(waylink_discover_tests target)
  cmake_parse_arguments(ARG "" "PREFIX;FILTER;TIMEOUT" "ENVIRONMENT;EXTRA_ARGS;PROPERTIES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  string(MAKE_C_IDENTIFIER "${target}_${ARG_PREFIX}" id)
  set(options DISCOVERY_MODE PRE_TEST TEST_LIST ${id}_TESTS)
  if(ARG_PREFIX)
    list(APPEND options TEST_PREFIX "${ARG_PREFIX}")
  endif()
  if(ARG_FILTER)
    list(APPEND options TEST_FILTER "${ARG_FILTER}")
  endif()
  if(ARG_EXTRA_ARGS)
    list(APPEND options EXTRA_ARGS ${ARG_EXTRA_ARGS})
  endif()
  gtest_discover_tests(${target} ${options} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${ARG_PROPERTIES})
  if(ARG_ENVIRONMENT)
    set(envfile ${CMAKE_CURRENT_BINARY_DIR}/${id}_environment.cmake)
    file(WRITE ${envfile}
      "foreach(t IN LISTS ${id}_TESTS)\n"
      "  set_tests_properties(\"\${t}\" PROPERTIES ENVIRONMENT [==[${ARG_ENVIRONMENT}]==])\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${envfile})
  endif()
endfunction()

# The throwaway PostgreSQL cluster of a test run: started and stopped by the server tests'
# fixture (server_pg) when PostgreSQL 15's server binaries are installed.
set(WAYLINK_PG_INITDB /usr/lib/postgresql/15/bin/initdb)
set(WAYLINK_PG_URL_FILE ${CMAKE_BINARY_DIR}/server/tests/pg-test-cluster.url)

# waylink_add_pg_tests(target [FILTER f]): the target's tests once more, named "pg.*", on
# the cluster. The backend is named twice, by argument and by environment, so that a test
# that lost its environment fails instead of passing on SQLite.
function(waylink_add_pg_tests target)
  cmake_parse_arguments(ARG "" "FILTER" "" ${ARGN})
  if(NOT EXISTS ${WAYLINK_PG_INITDB})
    return()
  endif()
  set(filter)
  if(ARG_FILTER)
    set(filter FILTER "${ARG_FILTER}")
  endif()
  waylink_discover_tests(${target} PREFIX "pg." ${filter}
    EXTRA_ARGS --waylink-backend=postgresql
    ENVIRONMENT QT_QPA_PLATFORM=offscreen WAYLINK_TEST=1 WAYLINK_TEST_PG_URL_FILE=${WAYLINK_PG_URL_FILE}
    PROPERTIES FIXTURES_REQUIRED server_pg)
endfunction()

# waylink_add_benchmark(name SOURCES ... LIBS ...): a Google Benchmark executable; never run by ctest.
function(waylink_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  waylink_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()

include(GoogleTest)
