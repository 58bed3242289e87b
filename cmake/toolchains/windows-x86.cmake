# 32-bit Windows, the tool's home platform, run under the 32-bit wine that
# tools/setup-debian --windows sets up: the system's own, or a private one
# under qemu-i386 where the kernel runs no 32-bit x86 program. Its scripts
# say which.
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
if(DEFINED ENV{XDG_CACHE_HOME})
  set(wine32 "$ENV{XDG_CACHE_HOME}/upgrade-info/wine32")
else()
  set(wine32 "$ENV{HOME}/.cache/upgrade-info/wine32")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine32}/wine)
set(UPGRADE_INFO_WINESERVER ${wine32}/wineserver)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
