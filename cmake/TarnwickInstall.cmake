# What `cmake --install` lays down: the shared library with its soname links,
# the public header, the CMake package (find_package(Tarnwick CONFIG) gives
# Tarnwick::Tarnwick), tarnwick.pc, and on Linux the tool with its man page,
# bash completion and documentation.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TARNWICK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarnwick CACHE STRING
    "Where the CMake package files are installed, relative to the prefix")

install(TARGETS Tarnwick EXPORT TarnwickTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/tarnwick.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

install(EXPORT TarnwickTargets NAMESPACE Tarnwick:: DESTINATION ${TARNWICK_CMAKE_DIR}
  COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TarnwickConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TarnwickConfig.cmake INSTALL_DESTINATION ${TARNWICK_CMAKE_DIR})
# A program built against 1.x runs with any later 1.y: the exports and the
# layouts only ever change with the major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarnwickConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarnwickConfig.cmake ${PROJECT_BINARY_DIR}/TarnwickConfigVersion.cmake
  DESTINATION ${TARNWICK_CMAKE_DIR} COMPONENT Development)

# The prefix is found from where the .pc file lies, so an unpacked tarball
# works wherever it is put; absolute install directories are kept as given.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(tarnwick_pc_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH tarnwick_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" tarnwick_pc_up "${tarnwick_pc_up}")
  set(tarnwick_pc_PREFIX "\${pcfiledir}/${tarnwick_pc_up}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(tarnwick_pc_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(tarnwick_pc_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarnwick.pc.in ${PROJECT_BINARY_DIR}/tarnwick.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarnwick.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

if(TARGET tarnwick)
  # The tool finds the library beside it wherever the tree is unpacked, and
  # in the build tree. One search path serves both, so that the installed
  # file is not rewritten: CMake pads a path it will rewrite with an empty
  # entry, which has the loader look in the working directory.
  file(RELATIVE_PATH tarnwick_bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  get_target_property(tarnwick_tool_dir tarnwick BINARY_DIR)
  get_target_property(tarnwick_library_dir Tarnwick BINARY_DIR)
  file(RELATIVE_PATH tarnwick_tool_to_library ${tarnwick_tool_dir} ${tarnwick_library_dir})
  set_target_properties(tarnwick PROPERTIES BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN/${tarnwick_bin_to_lib}:$ORIGIN/${tarnwick_tool_to_library}")
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  include(${CMAKE_CURRENT_LIST_DIR}/TarnwickManPage.cmake)
  install(FILES ${TARNWICK_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/cli/completion/tarnwick.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tarnwick)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/cli.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
