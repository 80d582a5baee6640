# The MinGW-w64 run-time libraries the cross-built programs and DLLs use are
# copied next to them, so that Windows (or Wine) finds them in the
# programs' own directory.
set(_vek_runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE _vek_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_vek_path}" OR NOT EXISTS "${_vek_path}")
    message(FATAL_ERROR "The MinGW-w64 run-time library ${dll} was not found")
  endif()
  get_filename_component(_vek_path "${_vek_path}" REALPATH)
  list(APPEND _vek_runtime_dlls "${_vek_path}")
endforeach()
file(COPY ${_vek_runtime_dlls} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
