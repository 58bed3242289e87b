# upgrade_info_test_entries(<name> PROGRAM <file> COMMAND <words>...
#   [LISTED_BY <words>...] [EXCLUDE <regex>]
#   [LONGEST <tests>...] [ENVIRONMENT <variables>...]
#   [FIXTURES_REQUIRED <fixtures>...])
#
# One ctest entry for each test of a GoogleTest program, so that ctest runs
# them side by side and a failure names its test. `COMMAND` runs the
# program (through its launcher, with its arguments), and ctest adds a
# `--gtest_filter` for each test. The tests are listed as ctest starts, by
# `COMMAND --gtest_list_tests` or by `LISTED_BY`, which prints that
# listing, and listed again only once `PROGRAM` (the file the list comes
# from) or these settings change. Tests whose names match `EXCLUDE` get
# no entry. The `LONGEST` tests start first, so that the others run beside
# them rather than after them.
function(upgrade_info_test_entries name)
  cmake_parse_arguments(PARSE_ARGV 1 entries "" "PROGRAM;EXCLUDE"
    "COMMAND;LISTED_BY;LONGEST;ENVIRONMENT;FIXTURES_REQUIRED")
  if(NOT entries_LISTED_BY)
    set(entries_LISTED_BY ${entries_COMMAND} --gtest_list_tests)
  endif()
  set(settings "${CMAKE_CURRENT_BINARY_DIR}/${name}-entries.cmake")
  set(content "")
  foreach(variable IN ITEMS PROGRAM COMMAND LISTED_BY EXCLUDE LONGEST
      ENVIRONMENT FIXTURES_REQUIRED)
    string(TOLOWER "${variable}" lower)
    string(APPEND content "set(${lower} [==[${entries_${variable}}]==])\n")
  endforeach()
  string(APPEND content
    "set(name [==[${name}]==])\n"
    "set(settings [==[${settings}]==])\n"
    "set(listing [==[${CMAKE_CURRENT_BINARY_DIR}/${name}-listing.txt]==])\n"
    "include([==[${PROJECT_SOURCE_DIR}/cmake/add-listed-tests.cmake]==])\n")
  file(GENERATE OUTPUT "${settings}" CONTENT "${content}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${settings}")
endfunction()
