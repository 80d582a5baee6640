# `cmake --build BUILD --target docs`: the API reference of the public
# headers, by Doxygen, in BUILD/docs/api/html. Any Doxygen warning fails the
# target. Only defined when Doxygen is installed (scripts/install-deps.sh docs).
# The headers are the installed ones (VEK_PUBLIC_HEADERS of
# cmake/VekInstall.cmake, and the standard tags' header).
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND OR NOT VEK_PUBLIC_HEADERS)
  return()
endif()

set(_vek_docs_headers ${VEK_PUBLIC_HEADERS})
if(VEK_BUILD_TOOLS)
  list(APPEND _vek_docs_headers ${PROJECT_SOURCE_DIR}/stdtags/VekStdTags.h)
endif()
list(JOIN _vek_docs_headers " " VEK_DOCS_INPUT)
set(VEK_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs/api)
# Headers are shown by the name a program includes them with: vek/Name.h.
set(VEK_DOCS_STRIP "${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/stdtags ${PROJECT_SOURCE_DIR}/platform")
configure_file(${PROJECT_SOURCE_DIR}/docs/api/Doxyfile.in ${VEK_DOCS_OUTPUT}/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND ${DOXYGEN_EXECUTABLE} ${VEK_DOCS_OUTPUT}/Doxyfile
  DEPENDS ${_vek_docs_headers} ${PROJECT_SOURCE_DIR}/docs/api/mainpage.md
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "API reference in ${VEK_DOCS_OUTPUT}/html"
  VERBATIM)
