# Install layout for integrators: both libraries, the header and its parts, a pkg-config
# file, CMake package files and, when it is built, the tool with its manual
# page.
include(CMakePackageConfigHelpers)

install(TARGETS jsontree jsontree_shared EXPORT jsontreeTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES inc/jsontree.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY inc/jsontree DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
if(JSONTREE_TOOL)
  install(TARGETS configure_qrn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/configure_qrn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The pkg-config file names absolute directories: a staged or cross build puts
# PKG_CONFIG_SYSROOT_DIR in front of them. A path from ${pcfiledir} cannot
# follow an absolute library directory, and a pkg-config that prefixes every
# -I and -L would put the sysroot in front of it a second time. The prefix is
# the one in force at install time (cmake --install --prefix relocates), so it
# is filled in then; the library and header directories follow it unless they
# were configured as absolute paths.
foreach(kind LIB INCLUDE)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}DIR}")
    set(JSONTREE_PC_${kind}DIR "${CMAKE_INSTALL_${kind}DIR}")
  else()
    set(JSONTREE_PC_${kind}DIR "\${prefix}/${CMAKE_INSTALL_${kind}DIR}")
  endif()
endforeach()
set(JSONTREE_PC_PREFIX "@JSONTREE_PC_PREFIX@")
configure_file(cmake/jsontree.pc.in ${CMAKE_CURRENT_BINARY_DIR}/jsontree.pc.in @ONLY)
install(CODE "set(JSONTREE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file([[${CMAKE_CURRENT_BINARY_DIR}/jsontree.pc.in]]
                 [[${CMAKE_CURRENT_BINARY_DIR}/jsontree.pc]] @ONLY)")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/jsontree.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(JSONTREE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/jsontree)
install(EXPORT jsontreeTargets NAMESPACE jsontree:: DESTINATION ${JSONTREE_CMAKE_DIR})
configure_package_config_file(cmake/jsontreeConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/jsontreeConfig.cmake
  INSTALL_DESTINATION ${JSONTREE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/jsontreeConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/jsontreeConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/jsontreeConfigVersion.cmake
  DESTINATION ${JSONTREE_CMAKE_DIR})
