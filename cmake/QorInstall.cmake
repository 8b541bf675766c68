# cmake --install: the library with its SONAME links, the public headers, the
# jar, qor-agent and qorctl in the GNU directories, plus a CMake package
# (find_package(qorapi) gives qorapi::qorapi) and a pkg-config file, both
# relocatable so that the tree can be installed under any prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qorapi)

install(TARGETS qorapi EXPORT qorapiTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(EXPORT qorapiTargets NAMESPACE qorapi:: DESTINATION ${QOR_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qorapiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qorapiConfig.cmake INSTALL_DESTINATION ${QOR_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qorapiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qorapiConfig.cmake
  ${PROJECT_BINARY_DIR}/qorapiConfigVersion.cmake DESTINATION ${QOR_CMAKE_DIR})

# pkg-config finds the prefix from where the file lies.
file(RELATIVE_PATH QOR_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QOR_PC_TO_PREFIX "${QOR_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/qorapi.pc.in ${PROJECT_BINARY_DIR}/qorapi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qorapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET qorapi_jar)
  install_jar(qorapi_jar DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
endif()
if(TARGET qor-agent)
  install(TARGETS qor-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET qorctl)
  # qorctl loads the installed library wherever the prefix is.
  set_target_properties(qorctl PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS qorctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
