# `cmake --install` puts the core library, its public header and a package
# configuration under the prefix, so that another project links it with
#     find_package(atsp REQUIRED)
#     target_link_libraries(theirs PRIVATE atsp::atsp)
# The internal headers are not installed: the public one includes none.
include(CMakePackageConfigHelpers)

set(atspConfigDir ${CMAKE_INSTALL_LIBDIR}/cmake/atsp)

install(TARGETS atsp EXPORT atspTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/atsp/atsp.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/atsp)
install(EXPORT atspTargets NAMESPACE atsp:: DESTINATION ${atspConfigDir})

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/atspConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/atspConfig.cmake
                              INSTALL_DESTINATION ${atspConfigDir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/atspConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
# Find modules of our own (cmake/Find*.cmake) travel with the configuration,
# for dependencies that ship no CMake configuration of their own.
file(GLOB atspFindModules CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/Find*.cmake)
install(FILES ${CMAKE_BINARY_DIR}/atspConfig.cmake ${CMAKE_BINARY_DIR}/atspConfigVersion.cmake
              ${atspFindModules}
        DESTINATION ${atspConfigDir})
