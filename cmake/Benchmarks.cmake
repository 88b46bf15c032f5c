# The benchmarks (every bench/ folder) build with everything else in the
# plain build, so that they keep compiling; sanitizer builds, which no one
# benchmarks with, leave them out (scripts/setup turns this off there).
option(LUMRA_BENCH "Build the benchmarks with the rest of the project" ON)

# lumra_leave_out_benchmarks(): once every folder is added, takes the targets
# of every bench/ folder out of the default build unless LUMRA_BENCH is on.
# They can still be built by name.
function(lumra_leave_out_benchmarks)
  if(LUMRA_BENCH)
    return()
  endif()
  set(folders "${PROJECT_SOURCE_DIR}")
  while(folders)
    list(POP_FRONT folders folder)
    get_property(subfolders DIRECTORY "${folder}" PROPERTY SUBDIRECTORIES)
    list(APPEND folders ${subfolders})
    get_filename_component(name "${folder}" NAME)
    if(name STREQUAL "bench")
      get_property(targets DIRECTORY "${folder}" PROPERTY BUILDSYSTEM_TARGETS)
      if(targets)
        set_target_properties(${targets} PROPERTIES EXCLUDE_FROM_ALL ON)
      endif()
    endif()
  endwhile()
endfunction()
