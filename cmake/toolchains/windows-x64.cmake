# 64-bit Windows, run under wine's 64-bit loader.
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
set(UPGRADE_INFO_WINESERVER wineserver)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
