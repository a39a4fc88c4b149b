# kalvex_module(<name> [DEPS <targets>...] [SOLVE_TESTS <Suite.Test>...])
#
# One library per subsystem folder: every *.cpp of the folder (recursively)
# goes into the static library kx_<name>, every *_test.cpp into the test
# program <name>_tests, whose tests CTest discovers one by one. The DEPS list
# is the layering: a folder names only the folders below it. SOLVE_TESTS are
# the slow end-to-end solves (gtest filter patterns): they get the CTest label
# "solve", so the unit-test stage can leave them to a stage of their own.
function(kalvex_module name)
  cmake_parse_arguments(M "" "" "DEPS;SOLVE_TESTS" ${ARGN})
  file(GLOB_RECURSE all_sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  set(lib_sources ${all_sources})
  set(test_sources ${all_sources})
  list(FILTER lib_sources EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER test_sources INCLUDE REGEX "_test\\.cpp$")

  if(lib_sources)
    add_library(kx_${name} STATIC ${lib_sources})
    target_include_directories(kx_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(kx_${name} PUBLIC ${M_DEPS} Threads::Threads)
  else()
    add_library(kx_${name} INTERFACE)
    target_include_directories(kx_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(kx_${name} INTERFACE ${M_DEPS} Threads::Threads)
  endif()

  if(BUILD_TESTING AND test_sources)
    add_executable(${name}_tests ${test_sources})
    target_link_libraries(${name}_tests PRIVATE kx_${name} GTest::gtest_main
                                                GTest::gmock)
    target_compile_definitions(${name}_tests PRIVATE
      KALVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    set(discovery WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} DISCOVERY_TIMEOUT 120)
    if(M_SOLVE_TESTS)
      list(JOIN M_SOLVE_TESTS ":" solve_filter)
      gtest_discover_tests(${name}_tests ${discovery}
        TEST_FILTER "-${solve_filter}"
        PROPERTIES TIMEOUT 600)
      gtest_discover_tests(${name}_tests ${discovery}
        TEST_FILTER "${solve_filter}"
        PROPERTIES TIMEOUT 600 LABELS solve)
    else()
      gtest_discover_tests(${name}_tests ${discovery} PROPERTIES TIMEOUT 600)
    endif()
  endif()
endfunction()
