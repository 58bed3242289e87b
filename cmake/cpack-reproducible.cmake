# Run by CPack before each package (CPACK_PROJECT_CONFIG_FILE): two runs on
# one commit make the same bytes. Every file in a package is dated
# SOURCE_DATE_EPOCH, which CPack, dpkg-deb and dpkg-shlibdeps honour; where
# the caller has not set it, it is the time of the source's last commit.
# Outside a git checkout the caller sets it, or the files keep their own.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY "${CPACK_UPGRADE_INFO_SOURCE_DIR}"
    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed AND commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
  endif()
endif()
