# Installation: headers, the libraries, vekpp, a CMake package
# (find_package(VekPageProducer), targets VekPageProducer::...) and
# pkg-config files. Everything is relocatable: the installed tree may be
# moved or installed with --prefix.
include(CMakePackageConfigHelpers)

set(_vek_libs VCL50 INET50 PVekPgPrd)
if(VEK_BUILD_TOOLS)
  list(APPEND _vek_libs VekStdTags)
endif()
set(_vek_incdir ${CMAKE_INSTALL_INCLUDEDIR}/${VEK_INCLUDE_SUBDIR})
set(_vek_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/VekPageProducer)
set(_vek_pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The libraries find each other in their own directory.
set_target_properties(${_vek_libs} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${_vek_libs} EXPORT VekPageProducerTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${_vek_incdir})
# Only the public headers: the component's and the host-layer headers a user
# includes (directly or through them). The layer's internal headers (the
# module-file readers' PlatformModule.h, the code page table) stay in the
# source tree; tests/install/run.sh checks that every installed header finds
# the headers it includes.
set(_vek_public_headers
  AnsiString.h
  Component.h
  Encoding.h
  ContentProducer.h
  Event.h
  Export.h
  FormStreaming.h
  Package.h
  PackageResources.h
  Properties.h
  Streams.h
  StringList.h
  TextRoutines.h)
list(TRANSFORM _vek_public_headers PREPEND ${PROJECT_SOURCE_DIR}/platform/)
list(APPEND _vek_public_headers ${PROJECT_SOURCE_DIR}/src/VekPgProd.h)
install(FILES ${_vek_public_headers} DESTINATION ${_vek_incdir})
if(VEK_BUILD_TOOLS)
  install(TARGETS vekpp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT VekPageProducerTargets NAMESPACE VekPageProducer::
  DESTINATION ${_vek_cmakedir})
set(VEK_HAS_STDTAGS ${VEK_BUILD_TOOLS})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VekPageProducerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VekPageProducerConfig.cmake
  INSTALL_DESTINATION ${_vek_cmakedir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VekPageProducerConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VekPageProducerConfig.cmake
  ${PROJECT_BINARY_DIR}/VekPageProducerConfigVersion.cmake
  DESTINATION ${_vek_cmakedir})

# pkg-config: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH VEK_PC_PREFIX "/p/${_vek_pcdir}" "/p")
string(REGEX REPLACE "/$" "" VEK_PC_PREFIX "${VEK_PC_PREFIX}")
set(_vek_pcs VekPageProducer)
if(VEK_BUILD_TOOLS)
  list(APPEND _vek_pcs VekStdTags)
endif()
foreach(_pc IN LISTS _vek_pcs)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_pc}.pc.in ${PROJECT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${_pc}.pc DESTINATION ${_vek_pcdir})
endforeach()
