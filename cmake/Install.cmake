# Install the library, its headers, its default resources, a CMake package and
# a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS vorncore EXPORT VornCoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/vorn/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorn
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/vorncore/resources)

set(VORN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VornCore)
install(EXPORT VornCoreTargets NAMESPACE Vorn:: DESTINATION ${VORN_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VornCoreConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VornCoreConfig.cmake
  INSTALL_DESTINATION ${VORN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VornCoreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VornCoreConfig.cmake
              ${PROJECT_BINARY_DIR}/VornCoreConfigVersion.cmake
        DESTINATION ${VORN_CMAKE_DIR})

# The pkg-config file finds its prefix from its own folder, so the
# installation may be moved; a directory given as an absolute path stays one.
file(RELATIVE_PATH VORN_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VORN_PC_TO_PREFIX "${VORN_PC_TO_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VORN_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(VORN_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vorncore.pc.in
  ${PROJECT_BINARY_DIR}/vorncore.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vorncore.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
