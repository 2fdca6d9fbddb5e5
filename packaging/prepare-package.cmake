# Run by CPack on the staged files before the package is made: every ELF
# program loses the .comment and .note sections, which it never needs, and
# the package gets its lintian overrides (a plain install has no use for them).
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file ${staged})
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${CPACK_QUORVEX_STRIP}" --remove-section=.comment --remove-section=.note "${file}"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot strip ${file}")
    endif()
  endif()
endforeach()

file(MAKE_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/lintian/overrides")
file(COPY_FILE "${CPACK_QUORVEX_OVERRIDES}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/lintian/overrides/quorvex")
