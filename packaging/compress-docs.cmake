# Run by CPack on its staging folder before the package is made: Debian keeps
# manual pages and changelogs gzip-compressed, at -9 and without the original
# name and time stamp inside.
find_program(GZIP gzip REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if((file MATCHES "/share/man/" AND NOT file MATCHES "\\.gz$")
     OR file MATCHES "/share/doc/[^/]+/changelog$")
    execute_process(COMMAND ${GZIP} -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
