# libFuzzer targets, built only with clang++ and -DLUMRA_FUZZ=ON: the
# AddressSanitizer build (scripts/setup --sanitize, scripts/fuzz). All its
# code carries the coverage the fuzzer steers by, so a target explores the
# libraries it calls, not only its own harness, and no separate build is
# needed for fuzzing.
option(LUMRA_FUZZ "Build the libFuzzer targets" OFF)
if(LUMRA_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
add_custom_target(fuzz-targets)
set(LUMRA_FUZZ_MANIFEST "${CMAKE_BINARY_DIR}/fuzz-targets.txt")
file(WRITE "${LUMRA_FUZZ_MANIFEST}" "")

# lumra_fuzz(<target> CORPUS <folder> SOURCES <files…> LIBRARIES <targets…>):
# a libFuzzer executable whose seed inputs live in <folder> in the repository.
# scripts/fuzz runs every target listed in fuzz-targets.txt.
function(lumra_fuzz target)
  cmake_parse_arguments(FUZZ "" "CORPUS" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT LUMRA_FUZZ)
    return()
  endif()
  add_executable(${target} ${FUZZ_SOURCES})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${FUZZ_LIBRARIES})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzz")
  add_dependencies(fuzz-targets ${target})
  get_filename_component(corpus "${FUZZ_CORPUS}" ABSOLUTE)
  file(APPEND "${LUMRA_FUZZ_MANIFEST}" "${CMAKE_BINARY_DIR}/fuzz/${target} ${corpus}\n")
endfunction()
