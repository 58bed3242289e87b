# Warnings on the project's own targets only, never on the libraries they
# link. They are errors where UPGRADE_INFO_WERROR says so, as every preset
# and CI do; a distribution's build on a newer compiler, which may warn of
# more, can leave it off.
option(UPGRADE_INFO_WERROR "Make the project's warnings errors" OFF)

function(upgrade_info_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wold-style-cast -Wundef -Wcast-qual -Wformat=2 -Wnon-virtual-dtor)
  # Clang's conversion warnings are the conversions preset's, with its own
  # flags.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wconversion -Wsign-conversion
      -Wlogical-op -Wduplicated-cond -Wuseless-cast)
  endif()
  if(UPGRADE_INFO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
