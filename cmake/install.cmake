include(CMakePackageConfigHelpers)

install(TARGETS kavutil kavutil_static
  EXPORT kavutilTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/kavutil DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/include/kavutil/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kavutil)

set(KAV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kavutil)
install(EXPORT kavutilTargets NAMESPACE kavutil:: DESTINATION ${KAV_CMAKE_DIR})
configure_package_config_file(cmake/kavutilConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kavutilConfig.cmake
  INSTALL_DESTINATION ${KAV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kavutilConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/kavutilConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/kavutilConfigVersion.cmake
  DESTINATION ${KAV_CMAKE_DIR})

# The private link line lists what the static library needs.
set(KAV_PC_PRIVATE_LIBS "-lpthread")
foreach(_lib IN LISTS KAV_LINK_LIBS)
  string(APPEND KAV_PC_PRIVATE_LIBS " -l${_lib}")
endforeach()
# The .pc file finds its prefix relative to where it is installed, so the
# tree can be installed under any prefix.
file(RELATIVE_PATH KAV_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(cmake/kavutil.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kavutil.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kavutil.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
