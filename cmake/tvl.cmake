# Helpers that pick one file of each *_win32.cc / *_posix.cc pair.
function(tvl_platform_filter out)
  set(kept)
  foreach(f ${ARGN})
    if(f MATCHES "_win32(_test)?\\.(cc|c|rc)$" AND NOT WIN32)
      continue()
    endif()
    if(f MATCHES "_posix(_test)?\\.(cc|c)$" AND WIN32)
      continue()
    endif()
    list(APPEND kept ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# tvl_sources(a.cc b_win32.cc b_posix.cc ...): adds to the launcher library.
function(tvl_sources)
  tvl_platform_filter(files ${ARGN})
  target_sources(tvl PRIVATE ${files})
endfunction()

# tvl_test(name a_test.cc ...): one googletest binary per subsystem.
function(tvl_test name)
  if(NOT TVL_BUILD_TESTS)
    return()
  endif()
  tvl_platform_filter(files ${ARGN})
  add_executable(${name} ${files})
  target_link_libraries(${name} PRIVATE tvl tvl_test_main)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/unit/wine_run.sh)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "TVL_SOURCE_DIR=${TVL_TEST_SOURCE_DIR}")
endfunction()
