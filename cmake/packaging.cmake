# Packages of the installed files: a .deb for Debian and its derivatives,
# a .zip for Windows.
set(CPACK_PACKAGE_NAME upgrade-info)
set(CPACK_PACKAGE_VENDOR "The upgrade-info developers")
set(CPACK_PACKAGE_CONTACT
  "upgrade-info maintainers <maintainers@users.noreply.c-seed-280c69a8.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
# The same bytes from every run on one commit.
set(CPACK_UPGRADE_INFO_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/cpack-reproducible.cmake")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Debian's machine-readable copyright and lintian's overrides in the
  # .deb, the plain licence file everywhere else.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-multi-arch.cmake)
  # The summary above is the first line; CPack indents this text below it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"upgrade-info wraps a text file into an upgrade-info file: a line with the
CRC-32 of what follows, a fixed magic line, then the text. It replaces its
output atomically, so that a failure never leaves a damaged file.
upgrade-info-check verifies such files and extracts their text.")
endif()

include(CPack)
