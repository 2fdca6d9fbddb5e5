# Installation laid out like any Debian game: the commands in games/, the game
# binary in lib/games/quorvex/ where only its launcher calls it, the rooms and
# sounds in share/games/quorvex/. Every destination is relative to the prefix,
# so `cmake --install build --prefix P` and DESTDIR staging both work.
set(QUORVEX_GAMES_DIR games)
set(QUORVEX_LIBEXEC_DIR lib/games/quorvex)
set(QUORVEX_DATA_DIR share/games/quorvex)
set(QUORVEX_DOC_DIR share/doc/quorvex)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(GZIP_PROGRAM gzip REQUIRED)

# Man pages and the changelog are installed compressed (gzip -n: no name or
# time stamp inside, so two builds give the same bytes).
function(quorvexGzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

file(GLOB QUORVEX_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.6)
set(QUORVEX_PACKED_FILES)
foreach(page ${QUORVEX_MAN_PAGES})
  get_filename_component(pageName ${page} NAME)
  quorvexGzip(${page} ${PROJECT_BINARY_DIR}/man/${pageName}.gz)
  list(APPEND QUORVEX_PACKED_FILES ${PROJECT_BINARY_DIR}/man/${pageName}.gz)
endforeach()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)

configure_file(packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
quorvexGzip(${PROJECT_BINARY_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
list(APPEND QUORVEX_PACKED_FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_target(quorvex-packed-files ALL DEPENDS ${QUORVEX_PACKED_FILES})

install(TARGETS quorvex DESTINATION ${QUORVEX_LIBEXEC_DIR})

# The rooms, and their pars (levels/main.par, as quorvex-check --par=FILE writes it).
file(GLOB QUORVEX_ROOMS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/levels/*.lvl ${PROJECT_SOURCE_DIR}/data/levels/*.par)
file(GLOB QUORVEX_SOUNDS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/Sound/*.wav)
install(FILES ${QUORVEX_ROOMS} DESTINATION ${QUORVEX_DATA_DIR}/levels)
install(FILES ${QUORVEX_SOUNDS} DESTINATION ${QUORVEX_DATA_DIR}/Sound)
# Only the pack that ships with the game: packs a developer keeps in data/ stay home.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/data/levels/custom levels/sampler"
        DESTINATION "${QUORVEX_DATA_DIR}/levels/custom levels")

install(FILES packaging/quorvex.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES README.md packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${QUORVEX_DOC_DIR})

# The launcher and the desktop entry name installed paths, so they are written
# at install time, when the prefix is known (see InstallGenerated.cmake).
install(CODE "set(QUORVEX_VERSION \"${PROJECT_VERSION}\")
set(QUORVEX_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
set(QUORVEX_GAMES_DIR \"${QUORVEX_GAMES_DIR}\")
set(QUORVEX_LIBEXEC_DIR \"${QUORVEX_LIBEXEC_DIR}\")
set(QUORVEX_DATA_DIR \"${QUORVEX_DATA_DIR}\")")
install(SCRIPT cmake/InstallGenerated.cmake)

# make deb: a Debian package through CPack. Its description names only the
# programs that this tree builds.
macro(quorvexPackage)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME quorvex)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  # Programs stripped as dh_strip leaves them, and the lintian overrides,
  # which belong to the package only (see packaging/prepare-package.cmake).
  set(CPACK_QUORVEX_STRIP "${CMAKE_STRIP}")
  set(CPACK_QUORVEX_OVERRIDES "${PROJECT_SOURCE_DIR}/packaging/lintian-overrides")
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/prepare-package.cmake)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The game loads SDL2_mixer at run time (src/system/sound.cpp), out of
  # dpkg-shlibdeps' sight; the calls it makes are all in 2.0.4.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsdl2-mixer-2.0-0 (>= 2.0.4)")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Quorvex developers <quorvex@example.org>")
  file(READ ${PROJECT_SOURCE_DIR}/packaging/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
  string(STRIP "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
  if(TARGET quorvex-check AND TARGET quorvex-edit)
    string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "${QUORVEX_TOOLS_TEXT_BOTH}")
  elseif(TARGET quorvex-check)
    string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "${QUORVEX_TOOLS_TEXT_CHECK}")
  elseif(TARGET quorvex-edit)
    string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "${QUORVEX_TOOLS_TEXT_EDIT}")
  endif()
  include(CPack)
endmacro()
set(QUORVEX_TOOLS_TEXT_CHECK "\n.\nWith quorvex-check authors prove that the rooms of a pack can be\nfinished.")
set(QUORVEX_TOOLS_TEXT_EDIT "\n.\nAuthors draw their rooms with the level editor quorvex-edit.")
set(QUORVEX_TOOLS_TEXT_BOTH "\n.\nAuthors draw their rooms with the level editor quorvex-edit and prove\nwith quorvex-check that they can be finished.")

# The second programs come from their own folders and may not be there yet:
# the check runs once the whole tree has been read. A man page goes with its
# program (quorvex.6 with the launcher), so no page describes a missing command.
function(quorvexInstallCompanions)
  foreach(program quorvex-check quorvex-edit)
    if(TARGET ${program})
      install(TARGETS ${program} DESTINATION ${QUORVEX_GAMES_DIR})
    endif()
  endforeach()
  foreach(page ${QUORVEX_MAN_PAGES})
    get_filename_component(program ${page} NAME_WE)
    if(program STREQUAL "quorvex" OR TARGET ${program})
      install(FILES ${PROJECT_BINARY_DIR}/man/${program}.6.gz DESTINATION share/man/man6)
    endif()
  endforeach()
  quorvexPackage()
endfunction()
cmake_language(DEFER CALL quorvexInstallCompanions)

if(TARGET quorvex_tests)
  target_compile_definitions(quorvex_tests PRIVATE
    QUORVEX_VERSION="${PROJECT_VERSION}"
    QUORVEX_CMAKE="${CMAKE_COMMAND}"
    QUORVEX_BUILD_DIR="${PROJECT_BINARY_DIR}")
endif()

