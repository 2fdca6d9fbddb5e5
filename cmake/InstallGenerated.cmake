# Runs at install time: writes the launcher and the desktop entry with the
# paths of this installation, then installs them like any other file (so they
# honour DESTDIR and land in the install manifest). They are written in a
# private temporary folder, not in the build tree: `sudo make install` must not
# leave root's files there, and two installs may run at once.

# The launcher holds its paths in single quotes; the desktop entry quotes its
# command when the path needs it, as the desktop entry format asks.
string(REPLACE "'" "'\\''" prefix "${CMAKE_INSTALL_PREFIX}")
set(QUORVEX_GAME "${prefix}/${QUORVEX_LIBEXEC_DIR}/quorvex")
set(QUORVEX_DATA "${prefix}/${QUORVEX_DATA_DIR}")
set(QUORVEX_LAUNCHER "${CMAKE_INSTALL_PREFIX}/${QUORVEX_GAMES_DIR}/quorvex")
if(QUORVEX_LAUNCHER MATCHES "[] \t\n\"'\\><~|&;$*?#()`=%]")
  string(REGEX REPLACE "([\"`$\\])" "\\\\\\1" QUORVEX_LAUNCHER "${QUORVEX_LAUNCHER}")
  string(REPLACE "%" "%%" QUORVEX_LAUNCHER "${QUORVEX_LAUNCHER}")
  set(QUORVEX_LAUNCHER "\"${QUORVEX_LAUNCHER}\"")
endif()

set(temporary "$ENV{TMPDIR}")
if(NOT IS_DIRECTORY "${temporary}")
  set(temporary /tmp)
endif()
string(RANDOM LENGTH 16 stageName)
set(stage "${temporary}/quorvex-install-${stageName}")

foreach(template src/launch/quorvex.in packaging/quorvex.desktop.in)
  file(READ "${QUORVEX_SOURCE_DIR}/${template}" text)
  string(CONFIGURE "${text}" text @ONLY)
  get_filename_component(name "${template}" NAME_WLE)
  file(WRITE "${stage}/${name}" "${text}")
endforeach()

file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QUORVEX_GAMES_DIR}" TYPE PROGRAM
     FILES "${stage}/quorvex")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES "${stage}/quorvex.desktop")
file(REMOVE_RECURSE "${stage}")
