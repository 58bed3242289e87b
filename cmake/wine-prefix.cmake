# cmake -DPREFIX=<dir> -DLOADER=<wine loader> -DSERVER=<its wineserver>
#   [-DPROGRAM=<test program>] -P wine-prefix.cmake
#
# The wine prefix that the Windows tests share, made in the build directory
# when it is missing, and a wine server that stays up until the tests stop
# it. Debian's server otherwise exits as its last process ends, and a
# process starting in that moment is cut off ("wine client error:0: recvmsg:
# Connection reset by peer"). wineboot then starts wine in the prefix, so
# that no test pays for wine's first start or sees what it prints then.
# With PROGRAM, prints the tests that the program lists, and stops the
# server again.
#
# The server and wineboot get files, not pipes, as standard streams: they
# and the service processes that wine's first start leaves running would
# hold a pipe open, and whoever reads it would wait for them.
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
# A server that an interrupted run left up would outlive its prefix.
execute_process(COMMAND ${SERVER} --kill OUTPUT_QUIET ERROR_QUIET)
if(NOT EXISTS "${PREFIX}/made")
  file(REMOVE_RECURSE "${PREFIX}")
  file(MAKE_DIRECTORY "${PREFIX}")
endif()
execute_process(COMMAND ${SERVER} --persistent
  RESULT_VARIABLE result INPUT_FILE /dev/null OUTPUT_FILE /dev/null
  ERROR_FILE /dev/null)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "wineserver --persistent failed in ${PREFIX}: ${result}")
endif()
execute_process(COMMAND ${LOADER} wineboot --init
  RESULT_VARIABLE result INPUT_FILE /dev/null OUTPUT_FILE /dev/null
  ERROR_FILE /dev/null)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "wineboot failed in ${PREFIX}: ${result}")
endif()
file(TOUCH "${PREFIX}/made")
if(DEFINED PROGRAM)
  execute_process(COMMAND ${LOADER} ${PROGRAM} --gtest_list_tests
    RESULT_VARIABLE listed INPUT_FILE /dev/null)
  execute_process(COMMAND ${SERVER} --kill OUTPUT_QUIET ERROR_QUIET)
  if(NOT listed EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed: ${listed}")
  endif()
endif()
