# Included by ctest, after the settings that upgrade_info_test_entries
# (test-entries.cmake) wrote: adds an entry for each test that the program
# lists, keeping the listing beside the settings.
cmake_minimum_required(VERSION 3.25)

if(NOT EXISTS "${program}")
  # ctest fails it, by this name, for want of the program.
  add_test("${name}_NOT_BUILT" "${name}_NOT_BUILT")
  return()
endif()

if(NOT EXISTS "${listing}" OR "${program}" IS_NEWER_THAN "${listing}" OR
    "${settings}" IS_NEWER_THAN "${listing}")
  # Files, not pipes: a wine server started meanwhile would hold a pipe.
  execute_process(COMMAND ${listed_by}
    OUTPUT_FILE "${listing}.new" ERROR_FILE "${listing}.errors"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(READ "${listing}.errors" errors)
    message(FATAL_ERROR "Listing the tests of ${program} failed (${result}):\n${errors}")
  endif()
  file(RENAME "${listing}.new" "${listing}")
endif()

file(READ "${listing}" text)
# Windows programs end their lines with CR LF; what GoogleTest notes after
# a name (a parameter's value) is no part of it.
string(REPLACE "\r" "" text "${text}")
string(REGEX REPLACE "  +#[^\n]*" "" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(suite "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+)\\.$")
    set(suite "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^  ([^ ]+)$" AND NOT suite STREQUAL "")
    set(test "${suite}.${CMAKE_MATCH_1}")
    if(NOT exclude STREQUAL "" AND test MATCHES "${exclude}")
      continue()
    endif()
    add_test("${test}" ${command} "--gtest_filter=${test}")
    if(test IN_LIST longest)
      set_tests_properties("${test}" PROPERTIES COST 1000)
    endif()
    set_tests_properties("${test}" PROPERTIES
      SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
      ENVIRONMENT "${environment}"
      FIXTURES_REQUIRED "${fixtures_required}")
  endif()
endforeach()
