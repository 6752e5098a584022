# Installs the game where games go (games/ under the prefix, the manual page in section 6) and
# packages it with CPack: for Debian, and for Windows the zip a player downloads.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME bootcamp)
set(CPACK_PACKAGE_VENDOR "The bootcamp developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn-based text game about getting through boot camp")
set(CPACK_STRIP_FILES ON)

# Windows: what a player downloads, bootcamp-VERSION-win64.zip, with the game (statically linked,
# so it needs no DLL beside it; stripped) and a short text for Windows players, both at the zip's
# top: Explorer's "Extract All" makes the one folder. Lines end in CR LF for every Notepad.
if(WIN32)
  install(TARGETS bootcamp RUNTIME DESTINATION .)
  configure_file(docs/windows_readme.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME bootcamp-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
  return()
endif()

set(BOOTCAMP_INSTALL_GAMESDIR "games" CACHE STRING "Where the game is installed, under the prefix")
install(TARGETS bootcamp RUNTIME DESTINATION ${BOOTCAMP_INSTALL_GAMESDIR})

# The manual page states the terminal size the game checks for: a small tool linked with the
# game prints it, so the page and the check cannot drift apart.
add_executable(layout_size tools/layout_size.cpp)
target_link_libraries(layout_size PRIVATE game platform)
bootcamp_warnings(layout_size)
set(BOOTCAMP_MANUAL ${CMAKE_BINARY_DIR}/bootcamp.6)
add_custom_command(OUTPUT ${BOOTCAMP_MANUAL}
  COMMAND ${CMAKE_COMMAND} -DLAYOUT_SIZE=$<TARGET_FILE:layout_size> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
    -DTEMPLATE=${CMAKE_SOURCE_DIR}/docs/bootcamp.6.in -DOUTPUT=${BOOTCAMP_MANUAL}
    -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/manual_page.cmake
  DEPENDS layout_size ${CMAKE_SOURCE_DIR}/docs/bootcamp.6.in ${CMAKE_SOURCE_DIR}/cmake/manual_page.cmake
  COMMENT "Making the manual page bootcamp.6"
  VERBATIM)
# Debian installs manual pages compressed; -n keeps the archive free of names and times.
find_program(GZIP gzip)
if(GZIP)
  add_custom_command(OUTPUT ${BOOTCAMP_MANUAL}.gz
    COMMAND ${GZIP} -9 -n -c ${BOOTCAMP_MANUAL} > ${BOOTCAMP_MANUAL}.gz
    DEPENDS ${BOOTCAMP_MANUAL})
  set(BOOTCAMP_INSTALLED_MANUAL ${BOOTCAMP_MANUAL}.gz)
else()
  set(BOOTCAMP_INSTALLED_MANUAL ${BOOTCAMP_MANUAL})
endif()
add_custom_target(manual ALL DEPENDS ${BOOTCAMP_INSTALLED_MANUAL})
install(FILES ${BOOTCAMP_INSTALLED_MANUAL} DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

set(BOOTCAMP_MAINTAINER "The bootcamp developers <bootcamp@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")
# Debian wants the long description in lines of at most 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "A recruit has made the mistake of joining the Marines. Each day brings one"
  "scenario with three answers, chosen with the digit keys; every answer moves"
  "the recruit's Health, Sanity, Reputation and Punchability, and one of four"
  "endings waits when a gauge reaches its bound."
  "It plays in any terminal wide enough for its fixed layout. In terminals that"
  "speak the kitty keyboard protocol it follows each key as it is held.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BOOTCAMP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# A statically linked game needs no library, so the package depends on none; cross-built, the
# package is of the target's architecture, not of the machine that builds it.
if(NOT BOOTCAMP_STATIC)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
include(CPack)

# The Linux download, bootcamp-VERSION-linux-ARCH.tar.gz: the static game, its manual page and a
# short README, side by side. tools/release.sh installs them apart from the package's files
# (cmake --install BUILD --component linux_archive --strip --prefix FOLDER) and packs them.
if(BOOTCAMP_STATIC)
  set(BOOTCAMP_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
  configure_file(docs/linux_readme.txt.in ${CMAKE_BINARY_DIR}/README @ONLY)
  install(TARGETS bootcamp RUNTIME DESTINATION . COMPONENT linux_archive EXCLUDE_FROM_ALL)
  install(FILES ${BOOTCAMP_MANUAL} ${CMAKE_BINARY_DIR}/README DESTINATION . COMPONENT linux_archive EXCLUDE_FROM_ALL)
endif()
