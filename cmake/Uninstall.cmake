# make uninstall: cmake -DBUILD_DIR=build -DPREFIX=/usr/local [-DDESTDIR=...] -P cmake/Uninstall.cmake
#
# Installs once more into a scratch folder to learn what an install under
# PREFIX consists of, then removes exactly those files from DESTDIR/PREFIX,
# and the folders that are the game's own (their names say quorvex) once they
# are empty. Shared folders such as PREFIX/games stay. An earlier install's
# manifest is not trusted: it may belong to another prefix or an older version.
foreach(required BUILD_DIR PREFIX)
  if("${${required}}" STREQUAL "")
    message(FATAL_ERROR "Uninstall.cmake needs -D${required}=...")
  endif()
endforeach()
if(NOT IS_ABSOLUTE "${PREFIX}")
  message(FATAL_ERROR "PREFIX must be an absolute path, not ${PREFIX}")
endif()
cmake_path(NORMAL_PATH PREFIX)
string(REGEX REPLACE "(.)/+$" "\\1" PREFIX "${PREFIX}")

set(temporary "$ENV{TMPDIR}")
if(NOT IS_DIRECTORY "${temporary}")
  set(temporary /tmp)
endif()
string(RANDOM LENGTH 16 scratchName)
set(scratch "${temporary}/quorvex-uninstall-${scratchName}")
set(ENV{DESTDIR} "${scratch}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                OUTPUT_QUIET RESULT_VARIABLE failed)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${scratch}${PREFIX}" "${scratch}${PREFIX}/*")
file(GLOB_RECURSE folders LIST_DIRECTORIES true RELATIVE "${scratch}${PREFIX}" "${scratch}${PREFIX}/*")
file(REMOVE_RECURSE "${scratch}")
if(failed OR NOT installed)
  message(FATAL_ERROR "cannot work out what an install under ${PREFIX} holds")
endif()

set(root "${DESTDIR}${PREFIX}")
set(removed 0)
foreach(path ${installed})
  if(EXISTS "${root}/${path}" OR IS_SYMLINK "${root}/${path}")
    message(STATUS "Removing: ${root}/${path}")
    file(REMOVE "${root}/${path}")
    math(EXPR removed "${removed} + 1")
  endif()
endforeach()

# Deepest first, so a folder's subfolders are gone before the folder is tried;
# rmdir takes only empty folders, so anything a player left there stays.
list(REMOVE_ITEM folders ${installed})
list(SORT folders ORDER DESCENDING)
foreach(folder ${folders})
  if(folder MATCHES "quorvex" AND IS_DIRECTORY "${root}/${folder}" AND NOT IS_SYMLINK "${root}/${folder}")
    execute_process(COMMAND rmdir "${root}/${folder}" RESULT_VARIABLE kept ERROR_QUIET)
    if(NOT kept)
      message(STATUS "Removing: ${root}/${folder}/")
    endif()
  endif()
endforeach()
message(STATUS "Removed ${removed} files of The Quorvex from ${root}")
