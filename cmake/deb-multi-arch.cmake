# Run by CPack after it made the .deb (CPACK_POST_BUILD_SCRIPTS): adds the
# control field "Multi-Arch: foreign", which CPack has no setting for. The
# tool's interface is its command line, so a package of any architecture
# satisfies another architecture's dependency on it.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}"
    COMMAND_ERROR_IS_FATAL ANY)
  file(READ "${tree}/DEBIAN/control" control)
  string(REGEX REPLACE "(\nArchitecture: [^\n]*\n)" "\\1Multi-Arch: foreign\n"
    control "\n${control}")
  string(SUBSTRING "${control}" 1 -1 control)
  file(WRITE "${tree}/DEBIAN/control" "${control}")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
