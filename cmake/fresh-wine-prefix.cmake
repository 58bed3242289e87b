# cmake -DPREFIX=<dir> -DLOADER=<wine loader> -DSERVER=<its wineserver>
#   -P fresh-wine-prefix.cmake
#
# Makes a fresh wine prefix, with a wine server that stays up until the tests
# stop it. Debian's server otherwise exits as its last process ends, and a
# process starting in that moment is cut off ("wine client error:0: recvmsg:
# Connection reset by peer"). Then starts wine in the prefix once, so that no
# test pays for wine's first start or sees what it prints then.
#
# The standard streams are files, not pipes: the server and the service
# processes that wine's first start leaves running would hold a pipe open,
# and whoever reads it would wait for them.
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
# A server that an interrupted run left up would outlive its prefix.
execute_process(COMMAND ${SERVER} --kill OUTPUT_QUIET ERROR_QUIET)
file(REMOVE_RECURSE "${PREFIX}")
file(MAKE_DIRECTORY "${PREFIX}")
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
