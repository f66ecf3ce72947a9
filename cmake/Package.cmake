# The install layout and the Debian package.
#
# The real executables live in one program folder, where halvora finds the debug monitor
# beside itself; the command and the xscreensaver hack are links to it. The shipped data is
# read-only under the data folder; /etc holds the machine's registry, which names each user's
# own data folder (the program links the shipped files into it on first use).

set(HALVORA_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/halvora)
set(HALVORA_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/halvora)
set(HALVORA_SYSCONF_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/halvora)

# The program knows where it is installed, to find the machine's files under the root it runs from.
set_property(SOURCE platform/win/profile.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  HALVORA_INSTALL_PROGRAM_DIR="${CMAKE_INSTALL_FULL_LIBEXECDIR}/halvora"
  HALVORA_INSTALL_SYSCONF_DIR="${CMAKE_INSTALL_FULL_SYSCONFDIR}"
  HALVORA_INSTALL_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}")
set_property(SOURCE app/uUsage.cpp APPEND PROPERTY COMPILE_DEFINITIONS HALVORA_VERSION="${PROJECT_VERSION}")

install(TARGETS halvora mistrel RUNTIME DESTINATION ${HALVORA_PROGRAM_DIR})

# Relative links, so that the tree works wherever it is unpacked.
set(HALVORA_LINK_DIR ${CMAKE_BINARY_DIR}/install-links)
function(halvora_install_link link_dir name target)
  file(RELATIVE_PATH relative ${CMAKE_INSTALL_PREFIX}/${link_dir} ${CMAKE_INSTALL_PREFIX}/${target})
  file(MAKE_DIRECTORY ${HALVORA_LINK_DIR}/${link_dir})
  file(CREATE_LINK ${relative} ${HALVORA_LINK_DIR}/${link_dir}/${name} SYMBOLIC)
  install(FILES ${HALVORA_LINK_DIR}/${link_dir}/${name} DESTINATION ${link_dir})
endfunction()
halvora_install_link(${CMAKE_INSTALL_BINDIR} halvora ${HALVORA_PROGRAM_DIR}/halvora)
halvora_install_link(${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver halvora ${HALVORA_PROGRAM_DIR}/halvora)

install(FILES ${CMAKE_BINARY_DIR}/data/Textures/Particles.tga ${CMAKE_BINARY_DIR}/data/Textures/Particles.uv
  DESTINATION ${HALVORA_SHARE_DIR}/Textures)
file(GLOB HALVORA_SHIPPED_PARTICLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/Particles/*.prt)
install(FILES ${HALVORA_SHIPPED_PARTICLES} DESTINATION ${HALVORA_SHARE_DIR}/Particles)
install(FILES data/halvora.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
install(FILES data/registry.reg DESTINATION ${HALVORA_SYSCONF_DIR})
install(FILES data/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page carries the version; gzip -n keeps the package reproducible.
configure_file(data/halvora.6.in ${CMAKE_BINARY_DIR}/man/halvora.6 @ONLY)
find_program(HALVORA_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/man/halvora.6.gz
  COMMAND ${HALVORA_GZIP} -9nkf ${CMAKE_BINARY_DIR}/man/halvora.6
  DEPENDS ${CMAKE_BINARY_DIR}/man/halvora.6
  VERBATIM)
add_custom_target(manual ALL DEPENDS ${CMAKE_BINARY_DIR}/man/halvora.6.gz)
install(FILES ${CMAKE_BINARY_DIR}/man/halvora.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

# Users' own files live in their homes: the package has no maintainer scripts that could touch them.
file(WRITE ${CMAKE_BINARY_DIR}/package/conffiles "${HALVORA_SYSCONF_DIR}/registry.reg\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Halvora developers <halvora-devel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screensaver of wandering spirals of glowing fire particles")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Wandering spirals of glowing fire particles drawn over long fading trails,\n"
  "after the desktop collapses into a dot. It runs full screen (halvora /s) or\n"
  "as an xscreensaver hack (halvora --root).\n"
  "\n"
  "Every user of the machine gets a data folder of their own for settings, log\n"
  "and desktop snapshot; the shipped data stays read-only.")
set(CPACK_PACKAGE_FILE_NAME halvora_${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS xscreensaver)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/package/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
