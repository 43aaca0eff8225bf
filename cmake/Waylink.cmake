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
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;WAYLINK_TEST=1" TIMEOUT ${ARG_TIMEOUT})
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
