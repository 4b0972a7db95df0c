# Read by cpack for each generator of a Windows build. The ZIP is the home as it is, with
# the default files in config\; the installer stages the program, the examples and the
# documents alone, and leaves the home's folders and files to its own install commands
# (windows-install.nsh), which never write over a file there.
if(CPACK_GENERATOR STREQUAL "NSIS")
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 tamro_build_dir)
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 1 tamro_project)
  set(CPACK_INSTALL_CMAKE_PROJECTS
      ${tamro_build_dir} ${tamro_project} Unspecified /
      ${tamro_build_dir} ${tamro_project} home /)
endif()
