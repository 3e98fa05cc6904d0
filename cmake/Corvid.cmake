# Helpers shared by every folder: one library per subsystem, one helper per test.

# corvid_library(NAME SOURCES... [DEPS ...] [SYSTEM ...])
# A subsystem library. With no sources it is an interface library (headers only).
function(corvid_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;SYSTEM" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_SYSTEM})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_SYSTEM})
  endif()
endfunction()

find_package(GTest REQUIRED)
include(GoogleTest)

# corvid_test(NAME SOURCES... LIBS ...)
function(corvid_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
endfunction()
