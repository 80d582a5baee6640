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
  foreach(_h VekStdTags.h VekEngine.h VekExtensions.h VekTemplateLoader.h)
    list(APPEND _vek_docs_headers ${PROJECT_SOURCE_DIR}/stdtags/${_h})
  endforeach()
endif()
set(VEK_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs/api)
# Doxygen reads the headers as installed, in include/vek/, so that the
# reference shows them as a program includes them: <vek/VekPgProd.h>.
set(_vek_docs_include ${VEK_DOCS_OUTPUT}/include)
set(_vek_docs_copies)
foreach(_header IN LISTS _vek_docs_headers)
  get_filename_component(_name ${_header} NAME)
  list(APPEND _vek_docs_copies ${_vek_docs_include}/${VEK_INCLUDE_SUBDIR}/${_name})
endforeach()
# The front page is an input too: USE_MDFILE_AS_MAINPAGE names a file of
# the input, it does not add one.
list(APPEND _vek_docs_copies ${PROJECT_SOURCE_DIR}/docs/api/mainpage.md)
list(JOIN _vek_docs_copies " " VEK_DOCS_INPUT)
set(VEK_DOCS_STRIP ${_vek_docs_include})
configure_file(${PROJECT_SOURCE_DIR}/docs/api/Doxyfile.in ${VEK_DOCS_OUTPUT}/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_vek_docs_include}/${VEK_INCLUDE_SUBDIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_vek_docs_headers}
          ${_vek_docs_include}/${VEK_INCLUDE_SUBDIR}
  COMMAND ${DOXYGEN_EXECUTABLE} ${VEK_DOCS_OUTPUT}/Doxyfile
  DEPENDS ${_vek_docs_headers} ${PROJECT_SOURCE_DIR}/docs/api/mainpage.md
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "API reference in ${VEK_DOCS_OUTPUT}/html"
  VERBATIM)
