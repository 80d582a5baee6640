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

# Who made the packages, for their Maintainer field and Debian changelog: a
# name and a mail address. The default's domain is a reserved one that
# reaches no one; whoever publishes the packages sets their own.
set(VEK_PACKAGE_MAINTAINER "VekPageProducer maintainers <maintainers@vekpageproducer.invalid>"
    CACHE STRING "Maintainer of the Debian packages: Name <address>")
# The changelog's date: SOURCE_DATE_EPOCH when set (reproducible builds).
string(TIMESTAMP _vek_deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)

# The documentation each package ships in /usr/share/doc/<package>/ beside
# its copyright: the changelog (CHANGELOG.md as changelog.gz, and the Debian
# changelog of the packaging), the README, and what a reader of that
# package needs: the template language and its escaping for the development
# files and the tool, serving for the tool. Files over 4 kB are compressed
# (gzip -9n), as Debian's policy asks.
set(_vek_doc_runtime README.md)
set(_vek_doc_dev README.md docs/template-language.md docs/escaping.md)
set(_vek_doc_tool README.md docs/template-language.md docs/escaping.md docs/serve.md)
set(_vek_doc_dir ${PROJECT_BINARY_DIR}/packaging-doc)
set(_vek_doc_outputs)
# One compressed copy of each document, shared by the packages.
function(_vek_doc_gz source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()
file(MAKE_DIRECTORY ${_vek_doc_dir})
_vek_doc_gz(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${_vek_doc_dir}/changelog.gz)
list(APPEND _vek_doc_outputs ${_vek_doc_dir}/changelog.gz)
foreach(_doc README.md docs/template-language.md docs/escaping.md docs/serve.md)
  get_filename_component(_name ${_doc} NAME)
  file(SIZE ${PROJECT_SOURCE_DIR}/${_doc} _size)
  if(_size GREATER 4096)
    _vek_doc_gz(${PROJECT_SOURCE_DIR}/${_doc} ${_vek_doc_dir}/${_name}.gz)
    list(APPEND _vek_doc_outputs ${_vek_doc_dir}/${_name}.gz)
    set(_vek_doc_file_${_name} ${_vek_doc_dir}/${_name}.gz)
  else()
    set(_vek_doc_file_${_name} ${PROJECT_SOURCE_DIR}/${_doc})
  endif()
endforeach()

set(_vek_components)
while(_vek_deb_packages)
  list(POP_FRONT _vek_deb_packages _component _package)
  list(APPEND _vek_components ${_component})
  string(TOUPPER ${_component} _COMPONENT)
  set(CPACK_DEBIAN_${_COMPONENT}_PACKAGE_NAME ${_package})
  set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/${_package})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE RENAME copyright
    DESTINATION ${_docdir} COMPONENT ${_component})
  # The Debian changelog: one entry for the packaging of this version.
  set(VEK_DEB_PACKAGE ${_package})
  set(VEK_DEB_DATE ${_vek_deb_date})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in
    ${_vek_doc_dir}/${_package}/changelog.Debian @ONLY)
  _vek_doc_gz(${_vek_doc_dir}/${_package}/changelog.Debian
    ${_vek_doc_dir}/${_package}/changelog.Debian.gz)
  list(APPEND _vek_doc_outputs ${_vek_doc_dir}/${_package}/changelog.Debian.gz)
  set(_files ${_vek_doc_dir}/changelog.gz ${_vek_doc_dir}/${_package}/changelog.Debian.gz)
  foreach(_doc IN LISTS _vek_doc_${_component})
    get_filename_component(_name ${_doc} NAME)
    list(APPEND _files ${_vek_doc_file_${_name}})
  endforeach()
  install(FILES ${_files} DESTINATION ${_docdir} COMPONENT ${_component})
endwhile()
add_custom_target(vek_package_docs ALL DEPENDS ${_vek_doc_outputs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vekpageproducer)
set(CPACK_PACKAGE_VENDOR "The VekPageProducer authors")
set(CPACK_PACKAGE_CONTACT "${VEK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
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
# include it, and its interface takes nlohmann's types); pkg-config is how
# the .pc files are read. nlohmann's types carry its version in their
# mangled names (the namespace nlohmann::json_abi_v3_11_2), so a program
# built with another release of the header does not link with the library:
# the dependency is pinned to the release the library was built with
# (VEK_NLOHMANN_JSON_VERSION, cmake/VekInstall.cmake), in any Debian
# revision of it ("<< 3.11.2.~" admits 3.11.2-2 and 3.11.2+dfsg-1, not 3.11.3).
if(VEK_BUILD_TOOLS)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
      "nlohmann-json3-dev (>= ${VEK_NLOHMANN_JSON_VERSION}), nlohmann-json3-dev (<< ${VEK_NLOHMANN_JSON_VERSION}.~)")
endif()
# ldconfig runs by a trigger after the libraries are installed or removed
# (CPack's maintainer scripts call it as well).
file(WRITE ${PROJECT_BINARY_DIR}/packaging-control/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging-control/triggers)
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "pkgconf | pkg-config")

# Descriptions as Debian's control files want them: the first line is the
# synopsis; CPack indents the lines after it by one blank and turns an empty
# line into " .". A package-wide summary is left unset: CPack would put it
# before every component's synopsis.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION [=[Vek page producer: shared libraries
The component TVekPageProducer expands the tags of HTML templates through the
application's handlers; the standard tags give the tags a meaning over JSON
data, with values escaped for where they stand in the page.

This package holds the shared libraries: the component's package module
(libPVekPgPrd), the standard tags (libVekStdTags) and the small class library
they are written against (libVekVCL50, libVekINET50).]=])
set(CPACK_DEBIAN_DEV_DESCRIPTION [=[Vek page producer: development files
The component TVekPageProducer expands the tags of HTML templates through the
application's handlers; the standard tags give the tags a meaning over JSON
data.

This package holds the headers (under /usr/include/vek), the link names, a
CMake package (find_package(VekPageProducer)) and pkg-config files
(VekPageProducer, VekStdTags), with the documentation of the template
language and of its escaping.]=])
set(CPACK_DEBIAN_TOOL_DESCRIPTION [=[expand, check, build and serve HTML templates
vekpp renders a template written with the Vek page producer's standard tags
with JSON, YAML or TOML data, checks templates for likely faults, renders a
whole site into a folder, and serves a directory of templates over HTTP with
live reload.]=])

include(CPack)
cpack_add_component(runtime)
cpack_add_component(dev DEPENDS runtime)
if(VEK_BUILD_TOOLS)
  cpack_add_component(tool DEPENDS runtime)
endif()
