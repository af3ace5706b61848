# Helpers shared by every folder of the project.

# tarq_add_test(<name> SOURCES ... [LIBS ...] [GUI])
# One GoogleTest executable; its cases are discovered when ctest runs (not at build time, so a
# sanitized or Qt binary never runs during the build). GUI tests carry the label "gui" and are
# skipped when the Qt parts are not built.
function(tarq_add_test name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
  if(ARG_GUI AND NOT TARQ_GUI)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  if(NOT ARG_GUI)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  set(labels unit)
  if(ARG_GUI)
    set(labels gui)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${labels}" TIMEOUT 600
    # Tests neither read nor write the FFT wisdom of the user's cache, nor measure plans behind
    # their own backs.
    ENVIRONMENT "TARQ_TEST_SCRATCH=${CMAKE_BINARY_DIR}/scratch;TARQ_FFTW_WISDOM=0;TARQ_FFTW_MEASURE_SECONDS=0")
endfunction()

# tarq_add_benchmark(<name> SOURCES ... [LIBS ...])
function(tarq_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# tarq_add_subdirs(): adds every immediate subfolder that has a CMakeLists.txt (tests/, bench/).
function(tarq_add_subdirs)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(child IN_LIST TARQ_SKIP)
      continue()
    endif()
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
