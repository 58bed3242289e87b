# cmake -DPREFIX=<dir> -DLOADER=<wine loader> -P fresh-wine-prefix.cmake
#
# Makes a fresh wine prefix and starts wine in it once, so that no test pays
# for wine's first start or sees what it prints then.
file(REMOVE_RECURSE "${PREFIX}")
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
execute_process(COMMAND ${LOADER} wineboot --init
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "wineboot failed in ${PREFIX}: ${result}")
endif()
execute_process(COMMAND wineserver --wait)
