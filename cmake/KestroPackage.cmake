# Installs the library as a CMake package (find_package(KestroImage)) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS kestroimage EXPORT KestroImageTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(KESTRO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KestroImage)
install(EXPORT KestroImageTargets NAMESPACE KestroImage:: DESTINATION ${KESTRO_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KestroImageConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KestroImageConfig.cmake INSTALL_DESTINATION ${KESTRO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KestroImageConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/KestroImageConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/KestroImageConfigVersion.cmake
  ${CMAKE_CURRENT_LIST_DIR}/KestroDependencies.cmake
  DESTINATION ${KESTRO_CMAKE_DIR})

# The public headers include FreeImage.h and OpenCV's core matrix header, whose folder is not on
# the compiler's default path on Debian.
set(KESTRO_PC_OPENCV_CFLAGS "-I${KESTRO_OPENCV_INCLUDE_DIR}")
# The way up from the pkg-config folder to the prefix (two folders, three for lib/<triplet>).
file(RELATIVE_PATH KESTRO_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" KESTRO_PC_UP "${KESTRO_PC_UP}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kestroimage.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kestroimage.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestroimage.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
