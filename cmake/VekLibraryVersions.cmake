# Versioned shared libraries: every shared library defined so far (in the
# directories given, and theirs below) gets the file name lib<name>.so.X.Y.Z
# and the SONAME lib<name>.so.X from the project version, X being the major
# version: what programs linked against it record and need at run time.
# The Windows DLLs keep the host's names (VCL50.dll, ...).
#   vek_version_shared_libraries(DIR...)
function(vek_version_shared_libraries)
  if(WIN32)
    return()
  endif()
  set(dirs ${ARGN})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "SHARED_LIBRARY")
        set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                                                   SOVERSION ${PROJECT_VERSION_MAJOR})
      endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
  endwhile()
endfunction()
