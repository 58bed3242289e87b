# The hardening that Debian's dpkg-buildflags gives a package: fortified
# C library calls, a protected stack, a position-independent executable
# whose relocations are made read-only at start. The release preset turns
# it on, so that a build from source is hardened as the .deb is.
option(UPGRADE_INFO_HARDENING
  "Build with the hardening flags of Debian's packages" OFF)
if(UPGRADE_INFO_HARDENING)
  include(CheckPIESupported)
  check_pie_supported()
endif()

function(upgrade_info_hardening target)
  if(UPGRADE_INFO_HARDENING)
    target_compile_definitions(${target} PRIVATE _FORTIFY_SOURCE=2)
    target_compile_options(${target} PRIVATE -fstack-protector-strong)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL EXECUTABLE)
      target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
    endif()
  endif()
endfunction()
