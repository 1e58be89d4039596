# What `cmake --install <build> [--prefix <dir>]` puts under the prefix: the shared library
# (with its SONAME link), the header, the data folder, the tools, their manual pages, a
# pkg-config file and a CMake package giving Kavro::GigEVision. Every destination is relative,
# so the install can be moved by --prefix.
include(CMakePackageConfigHelpers)

set(KAVRO_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KavroGigEVisionLib)

install(TARGETS KavroGigEVisionLib EXPORT KavroGigEVisionLibTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/KavroGigEVisionLib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT KavroGigEVisionLibTargets NAMESPACE Kavro::
    DESTINATION ${KAVRO_CMAKE_INSTALL_DIR})

configure_package_config_file(cmake/KavroGigEVisionLibConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/KavroGigEVisionLibConfig.cmake
    INSTALL_DESTINATION ${KAVRO_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KavroGigEVisionLibConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KavroGigEVisionLibConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/KavroGigEVisionLibConfigVersion.cmake
    DESTINATION ${KAVRO_CMAKE_INSTALL_DIR})

# pkg-config: the prefix is found from the .pc file's own place.
set(_kavro_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KAVRO_PC_PREFIX_FROM_PCFILEDIR
    ${CMAKE_INSTALL_PREFIX}/${_kavro_pc_dir} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KAVRO_PC_PREFIX_FROM_PCFILEDIR "${KAVRO_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(cmake/KavroGigEVisionLib.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/KavroGigEVisionLib.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KavroGigEVisionLib.pc DESTINATION ${_kavro_pc_dir})

install(TARGETS gevtool gevcamsim_exe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES tools/gevtool.1 tools/gevcamsim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
