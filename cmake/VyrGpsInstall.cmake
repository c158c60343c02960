# Installation: the shared object (with its SONAME links), the static archive,
# the public header, the platform stand-in as a library of its own, a
# pkg-config file for each, and a CMake package:
#
#   find_package(VyrGpsParser CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE VyrGps::gpsparser VyrGps::platform)
#
# Imported targets: VyrGps::gpsparser, VyrGps::gpsparser_static,
# VyrGps::platform, VyrGps::platform_static. The library calls four platform
# services; on a host VyrGps::platform provides them, on the device the
# maker's libraries do. Everything is relative to the prefix, so
# `cmake --install <build> --prefix <any>` gives a working tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VYR_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/VyrGpsParser)

set_target_properties(vyr_gpsparser PROPERTIES EXPORT_NAME gpsparser)
set_target_properties(vyr_gpsparser_static PROPERTIES EXPORT_NAME gpsparser_static)
set_target_properties(vyr_platform PROPERTIES EXPORT_NAME platform)
set_target_properties(vyr_platform_static PROPERTIES EXPORT_NAME platform_static)

install(TARGETS vyr_gpsparser vyr_gpsparser_static vyr_platform vyr_platform_static
  EXPORT VyrGpsParserTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/vyr_gpsparser.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES
    ${PROJECT_SOURCE_DIR}/platform/include/vyr_platform.h
    ${PROJECT_SOURCE_DIR}/platform/include/vyr_platform_services.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

install(EXPORT VyrGpsParserTargets
  NAMESPACE VyrGps::
  DESTINATION ${VYR_INSTALL_CMAKEDIR}
  COMPONENT development)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/VyrGpsParserConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VyrGpsParserConfig.cmake
  INSTALL_DESTINATION ${VYR_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/VyrGpsParserConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/VyrGpsParserConfig.cmake
    ${PROJECT_BINARY_DIR}/VyrGpsParserConfigVersion.cmake
  DESTINATION ${VYR_INSTALL_CMAKEDIR}
  COMPONENT development)

# pkg-config files find the prefix from their own place (${pcfiledir}).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VYR_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _vyr_pc_up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" _vyr_pc_up "${_vyr_pc_up}")
  set(VYR_PC_PREFIX "\${pcfiledir}/${_vyr_pc_up}")
endif()
foreach(_vyr_pc vyr_gpsparser vyr_platform)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_vyr_pc}.pc.in ${PROJECT_BINARY_DIR}/${_vyr_pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${_vyr_pc}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()
