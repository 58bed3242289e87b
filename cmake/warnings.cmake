# Warnings are errors on the project's own targets only, never on the
# libraries they link.
function(upgrade_info_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
