# What `cmake --install` puts where, and the Debian package made from it by CPack.
# The program (app/) installs itself with its desktop entry and icon; the rest is here.
# Tools that a build does not make (zelvo32-script before it exists, the program without
# ZELVO_GUI) are left out together with their manual pages.

# Tools, and the name of the target that makes each.
set(ZELVO_TOOLS
  zelvo32-transfer zelvo32-transfer
  termdump termdump
  orvscript orvscript_cli
  zelvo32-script zelvo32-script)
set(ZELVO_MAN_PAGES zelvo32 zelvo32)
list(APPEND ZELVO_MAN_PAGES ${ZELVO_TOOLS})

while(ZELVO_TOOLS)
  list(POP_FRONT ZELVO_TOOLS tool target)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endwhile()

# The two libraries with their headers and a pkg-config file each.
install(TARGETS orvscript_shared nerrit LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/script_engine/orvscript.h ${PROJECT_SOURCE_DIR}/file_server/nerrit.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The prefix is the one given at install time (cmake --install --prefix, or the package's).
foreach(pc orvscript nerrit)
  install(CODE "
    set(PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/${pc}.pc.in\" \"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc\" @ONLY)")
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# The default key map lies beside the program, where the program looks for it.
if(TARGET zelvo32)
  install(FILES ${PROJECT_SOURCE_DIR}/terminal/zelvo32.kbd DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages, compressed as the distribution ships them.
find_program(ZELVO_GZIP gzip REQUIRED)
set(man_outputs "")
while(ZELVO_MAN_PAGES)
  list(POP_FRONT ZELVO_MAN_PAGES page target)
  if(NOT TARGET ${target})
    continue()
  endif()
  set(source ${PROJECT_SOURCE_DIR}/packaging/man/${page}.1)
  set(output ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${ZELVO_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND man_outputs ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endwhile()
add_custom_target(zelvo_man_pages ALL DEPENDS ${man_outputs})

# Debian package: cpack -G DEB in the build folder. Dependencies come from the shared
# libraries the binaries use (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME zelvo32)
set(CPACK_PACKAGE_VENDOR "Zelvo32")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial-line terminal with file transfers, scripts and a file server")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zelvo32 connects to routers, embedded boards, modems and old hosts
over a serial port (or a local command on a pseudo-terminal) and shows an
ANSI/VT100 terminal with scrollback and capture. It moves files with Xmodem,
Ymodem, Zmodem, Kermit and ASCII, runs scripts in a small C-like language, and
serves local directories to a client on the far machine over the same line.
The package holds the program, the command-line tools, the script engine
library liborvscript and the file server library libnerrit with their headers.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zelvo32 developers <devel@zelvo32.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own libraries satisfy the program's and the tools' needs for them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/bin)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
