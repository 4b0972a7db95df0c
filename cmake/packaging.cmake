# Installation layout and the Debian package.
#
# `cmake --install BUILD --prefix HOME` lays out an installation home, the folder the agent
# calls TAMRO_HOME:
#
#   bin/tamro
#   config/        the agent's files: copied from share/examples/ by the package's postinst
#                  when missing, and rewritten by the agent itself
#   share/examples/ configuration.xml (the installed variant below), mappings.xml,
#                  devices.xml (an empty list), heartbeat.xml
#   log/           the log
#   snmp/mibs/     MIB files for the SNMP library (empty)
#   snmp/persist/  the SNMP library's state
#   share/doc/tamro/, share/man/man8/tamro.8
#   lib/systemd/system/tamro.service   the unit, with its paths pointing at HOME
#
# `cpack -G DEB` packages the same home for /opt/tamro, but puts the unit and the manual
# page where systemd and man look for them (/lib/systemd/system, /usr/share/man), as files
# that dpkg owns. Those two go in the component "system", which only the package installs:
# a plain `cmake --install` never writes outside its prefix.

set(TAMRO_PACKAGE_HOME /opt/tamro)
set(tamro_packaging_source ${PROJECT_SOURCE_DIR}/cmake/packaging)
set(tamro_packaging_binary ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${tamro_packaging_binary})

# --- the installation home (component "home", installed by both) -------------------------

# The sample etc/configuration.xml is meant to be run from a source tree (relative paths,
# console logging, a local test server); under systemd, relative paths would resolve
# against / and the agent would not start. The installed variant names no path at all, so
# that every file is found under TAMRO_HOME.
#
# The agent rewrites its configuration, mappings and devices files, so the package must
# not own them (as conffiles, an upgrade would stop at dpkg's prompt): it ships the
# defaults as examples, and postinst copies each into config/ only when it is missing.
# Its comment tells the operator where things are and how to check and apply a change, in
# the terms of the platform.
if(WIN32)
  set(tamro_installed_configuration_note [[
  Paths that are left out are taken from the agent's home (TAMRO_HOME,
  C:\ProgramData\TAMRO): config\heartbeat.xml, config\mappings.xml, config\devices.xml,
  log\tamro.log, snmp\mibs and snmp\persist. Every key is described in
  C:\Program Files\TAMRO\share\doc\tamro\configuration.md.

  Check a change with "C:\Program Files\TAMRO\bin\tamro.exe" -t in an administrator's
  command prompt and apply it with "sc control TAMRO paramchange" (or restart the service
  TAMRO).]])
else()
  set(tamro_installed_configuration_note [[
  Paths that are left out are taken from the installation home (TAMRO_HOME, /opt/tamro):
  config/heartbeat.xml, config/mappings.xml, config/devices.xml, log/tamro.log,
  snmp/mibs and snmp/persist. Every key is described in
  /opt/tamro/share/doc/tamro/configuration.md.

  Check a change with "/opt/tamro/bin/tamro -t" as the user tamro (runuser -u tamro)
  and apply it with "systemctl reload tamro".]])
endif()
configure_file(${tamro_packaging_source}/configuration.xml.in
               ${tamro_packaging_binary}/configuration.xml @ONLY)
set(tamro_examples
    ${tamro_packaging_binary}/configuration.xml
    ${PROJECT_SOURCE_DIR}/etc/mappings.xml
    ${tamro_packaging_source}/devices.xml
    ${PROJECT_SOURCE_DIR}/etc/heartbeat.xml)
install(FILES ${tamro_examples} DESTINATION share/examples COMPONENT home)
# The folders the agent writes. The Windows installer puts them in a home of their own (see
# windows-install.nsh), not beside the program.
if(WIN32)
  set(tamro_folders_component home_folders)
else()
  set(tamro_folders_component home)
endif()
install(DIRECTORY DESTINATION config COMPONENT ${tamro_folders_component})
# A plain install has no postinst: it copies the examples the same way, never over a file.
install(CODE "
  foreach(name configuration.xml mappings.xml devices.xml heartbeat.xml)
    set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/config/\${name}\")
    if(NOT EXISTS \"\${target}\")
      message(STATUS \"Installing: \${target}\")
      configure_file(\"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/examples/\${name}\"
                     \"\${target}\" COPYONLY)
    endif()
  endforeach()
" COMPONENT home_config)
install(DIRECTORY DESTINATION log COMPONENT ${tamro_folders_component})
install(DIRECTORY DESTINATION snmp/mibs COMPONENT ${tamro_folders_component})
install(DIRECTORY DESTINATION snmp/persist COMPONENT ${tamro_folders_component})
# The documents as installed name the version they came with (the version text, the man
# page's footer, the version label of the metrics), so that after an upgrade they show the
# version installed, whatever the sources say.
set(tamro_docs_binary ${PROJECT_BINARY_DIR}/docs)
set(tamro_version_pattern "[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+")
foreach(doc configuration.md files.md heartbeat-template.md server-reply.md operating.md tamro.8)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/${doc})
  file(READ ${PROJECT_SOURCE_DIR}/docs/${doc} tamro_doc)
  string(REGEX REPLACE "TAMRO (v?)${tamro_version_pattern}" "TAMRO \\1${PROJECT_VERSION}"
         tamro_doc "${tamro_doc}")
  string(REGEX REPLACE "version=\"${tamro_version_pattern}\"" "version=\"${PROJECT_VERSION}\""
         tamro_doc "${tamro_doc}")
  set(tamro_stamped_doc "")
  if(EXISTS ${tamro_docs_binary}/${doc})
    file(READ ${tamro_docs_binary}/${doc} tamro_stamped_doc)
  endif()
  if(NOT tamro_stamped_doc STREQUAL tamro_doc)
    file(WRITE ${tamro_docs_binary}/${doc} "${tamro_doc}")
  endif()
endforeach()
install(FILES
          ${tamro_docs_binary}/configuration.md
          ${tamro_docs_binary}/files.md
          ${tamro_docs_binary}/heartbeat-template.md
          ${tamro_docs_binary}/server-reply.md
          ${tamro_docs_binary}/operating.md
        DESTINATION share/doc/tamro
        COMPONENT home)

# --- Windows: a ZIP of the home and an installer ----------------------------------------

# `cpack` in a Windows build gives tamro-VERSION-win64.zip (the home as it is, program
# included) and tamro-VERSION-win64.exe, a 64-bit NSIS installer (Debian's nsis package) that
# installs the program into C:\Program Files\TAMRO and makes the agent's home, its default
# TAMRO_HOME, in C:\ProgramData\TAMRO: copies the default files into config\ where they are
# missing (moving those of an older version's C:\tamro there first), registers the service
# and removes it on uninstall.
if(WIN32)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_NAME tamro)
  set(CPACK_PACKAGE_VENDOR "TAMRO developers")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended SNMP monitoring agent")
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY TAMRO)
  # The key under which older versions registered their uninstaller: an upgrade runs it.
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY tamro)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DISPLAY_NAME "TAMRO monitoring agent")
  set(CPACK_NSIS_PACKAGE_NAME "TAMRO ${PROJECT_VERSION}")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  # A 64-bit installer, like the program: a 32-bit one would see the registry through
  # WOW64 and need 32-bit Windows support to run at all.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  # One staging folder: the ZIP's copy of the examples into config/ finds them there.
  set(CPACK_MONOLITHIC_INSTALL ON)
  set(CPACK_PROJECT_CONFIG_FILE ${tamro_packaging_source}/windows-cpack.cmake)
  # (CPackConfig.cmake takes these texts as they are, inside quotes: hence the escaping.)
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
      "!include \\\"${tamro_packaging_source}/windows-install.nsh\\\"")
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
      "ExecWait '\\\"$INSTDIR\\\\bin\\\\tamro.exe\\\" --remove-service'")
  include(CPack)
  return()
endif()

# The unit, the manual page, the maintainer scripts and the package exist for Linux only.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

# --- unit and manual page inside the home (plain installs only) ---------------------------

install(FILES ${tamro_docs_binary}/tamro.8 DESTINATION share/man/man8 COMPONENT home_system)
# The unit names /opt/tamro; a home elsewhere gets a copy that names the home instead, ready
# for `systemctl link HOME/lib/systemd/system/tamro.service`.
install(CODE "
  file(READ \"${PROJECT_SOURCE_DIR}/etc/tamro.service\" unit)
  string(REPLACE \"${TAMRO_PACKAGE_HOME}\" \"\${CMAKE_INSTALL_PREFIX}\" unit \"\${unit}\")
  set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/tamro.service\")
  message(STATUS \"Installing: \${target}\")
  file(WRITE \"\${target}\" \"\${unit}\")
" COMPONENT home_system)

# --- files outside the home (the Debian package only) -------------------------------------

# Debian wants manual pages compressed; gzip -n keeps the archive reproducible.
set(tamro_man_page ${tamro_packaging_binary}/tamro.8.gz)
execute_process(COMMAND gzip -9 -n -c ${tamro_docs_binary}/tamro.8
                OUTPUT_FILE ${tamro_man_page}
                RESULT_VARIABLE tamro_gzip_result)
if(NOT tamro_gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip of docs/tamro.8 failed: ${tamro_gzip_result}")
endif()
install(FILES ${tamro_man_page} DESTINATION /usr/share/man/man8 COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/etc/tamro.service
        DESTINATION /lib/systemd/system COMPONENT system EXCLUDE_FROM_ALL)

# --- maintainer scripts ---------------------------------------------------------------------

foreach(script postinst prerm postrm)
  configure_file(${tamro_packaging_source}/${script}.in ${tamro_packaging_binary}/${script} @ONLY)
endforeach()

# --- the Debian package -------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamro)
set(CPACK_PACKAGE_VENDOR "TAMRO developers")
set(CPACK_PACKAGE_CONTACT "TAMRO developers <tamro@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended SNMP monitoring agent")
set(CPACK_PACKAGE_DESCRIPTION
    "TAMRO polls SNMP devices, renders one XML heartbeat per device and one for itself, and\n\
posts them to a management server over HTTP or HTTPS. The server's replies set the\n\
heartbeat intervals, request statistics and alarm thresholds, and may push new device\n\
and mapping lists. Runs as the systemd service tamro.service under the user tamro.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${TAMRO_PACKAGE_HOME})
set(CPACK_STRIP_FILES ON)

# One package holding the binary, the home and the system files.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified home system)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library packages come from dpkg-shlibdeps on the installed binary (libsnmp40,
# libctemplate3, libssl3, libsystemd0, libboost-*1.74.0, ...); adduser runs in postinst.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${tamro_packaging_binary}/postinst
    ${tamro_packaging_binary}/prerm
    ${tamro_packaging_binary}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
