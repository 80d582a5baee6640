# Debian packages by CPack (`make package`, or cpack in a build tree), one
# per install component:
#   libvekpageproducer1     runtime  the shared libraries
#   libvekpageproducer-dev  dev      headers, link names, CMake and pkg-config files
#   vekpp                   tool     the vekpp tool, its manual page and bash completion
# Each holds the license as /usr/share/doc/<package>/copyright. Dependencies
# on other Debian packages come from dpkg-shlibdeps (what the binaries link),
# between these packages from the component dependencies (same version).
set(_vek_deb_packages runtime libvekpageproducer1 dev libvekpageproducer-dev)
if(VEK_BUILD_TOOLS)
  list(APPEND _vek_deb_packages tool vekpp)
endif()
set(_vek_components)
while(_vek_deb_packages)
  list(POP_FRONT _vek_deb_packages _component _package)
  list(APPEND _vek_components ${_component})
  string(TOUPPER ${_component} _COMPONENT)
  set(CPACK_DEBIAN_${_COMPONENT}_PACKAGE_NAME ${_package})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE RENAME copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package} COMPONENT ${_component})
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vekpageproducer)
set(CPACK_PACKAGE_VENDOR "The VekPageProducer authors")
set(CPACK_PACKAGE_CONTACT "The VekPageProducer authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Expands tags in HTML templates through handlers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${_vek_components})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Where dpkg-shlibdeps finds this project's own libraries, which vekpp needs:
# they belong to no installed package yet (the component dependency names it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# The runtime package says which of its versions a program linked against
# each library needs (a shlibs file), and runs ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION web)
# The dev package's CMake config asks for nlohmann_json (VekStdTags' headers
# include it); pkg-config is how the .pc files are read.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "nlohmann-json3-dev (>= 3.9)")
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "pkgconf | pkg-config")

set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Vek page producer: shared libraries\n The component TVekPageProducer expands the tags of HTML templates through\n the application's handlers; the standard tags give them a meaning over JSON\n data. This package holds the shared libraries VCL50, INET50, PVekPgPrd and\n VekStdTags.")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "Vek page producer: development files\n Headers (under /usr/include/vek), link names, a CMake package\n (find_package(VekPageProducer)) and pkg-config files (VekPageProducer,\n VekStdTags) for programs that use the Vek page producer.")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "Vek page producer: expand, check, build and serve templates\n vekpp renders a template with JSON data, checks templates for likely faults,\n renders a whole site into a folder and serves a directory of templates over\n HTTP.")

include(CPack)
cpack_add_component(runtime)
cpack_add_component(dev DEPENDS runtime)
if(VEK_BUILD_TOOLS)
  cpack_add_component(tool DEPENDS runtime)
endif()
