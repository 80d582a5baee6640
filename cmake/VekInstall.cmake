# Installation: headers, the libraries, vekpp, a CMake package
# (find_package(VekPageProducer), targets VekPageProducer::...) and
# pkg-config files. Everything is relocatable: the installed tree may be
# moved or installed with --prefix. Each file belongs to one component, a
# Debian package of its own (cmake/VekPackaging.cmake): runtime (the shared
# libraries), dev (headers, link names, CMake and pkg-config files), tool.
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
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  PUBLIC_HEADER DESTINATION ${_vek_incdir} COMPONENT dev)
# Only the public headers: the component's and the host-layer headers a user
# includes (directly or through them). The layer's internal headers (the
# module-file readers' PlatformModule.h, the code page table) stay in the
# source tree; tests/install/run.sh checks that every installed header finds
# the headers it includes. The API reference (cmake/VekDocs.cmake) reads the
# same list.
set(VEK_PUBLIC_HEADERS
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
list(TRANSFORM VEK_PUBLIC_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/platform/)
list(APPEND VEK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/src/VekPgProd.h)
install(FILES ${VEK_PUBLIC_HEADERS} DESTINATION ${_vek_incdir} COMPONENT dev)
if(VEK_BUILD_TOOLS)
  install(TARGETS vekpp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()

install(EXPORT VekPageProducerTargets NAMESPACE VekPageProducer::
  DESTINATION ${_vek_cmakedir} COMPONENT dev)
set(VEK_HAS_STDTAGS ${VEK_BUILD_TOOLS})
# The standard tags' interface takes nlohmann's types, whose mangled names
# hold nlohmann's version (nlohmann::json_abi_v3_11_2): users build with the
# release the library was built with, and the CMake package, the pkg-config
# file and the Debian dependency (cmake/VekPackaging.cmake) ask for it.
if(VEK_BUILD_TOOLS)
  find_package(nlohmann_json 3.9 REQUIRED)
  set(VEK_NLOHMANN_JSON_VERSION ${nlohmann_json_VERSION})
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VekPageProducerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VekPageProducerConfig.cmake
  INSTALL_DESTINATION ${_vek_cmakedir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VekPageProducerConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VekPageProducerConfig.cmake
  ${PROJECT_BINARY_DIR}/VekPageProducerConfigVersion.cmake
  DESTINATION ${_vek_cmakedir} COMPONENT dev)

# pkg-config: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH VEK_PC_PREFIX "/p/${_vek_pcdir}" "/p")
string(REGEX REPLACE "/$" "" VEK_PC_PREFIX "${VEK_PC_PREFIX}")
set(_vek_pcs VekPageProducer)
if(VEK_BUILD_TOOLS)
  list(APPEND _vek_pcs VekStdTags)
endif()
foreach(_pc IN LISTS _vek_pcs)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_pc}.pc.in ${PROJECT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${_pc}.pc DESTINATION ${_vek_pcdir} COMPONENT dev)
endforeach()
