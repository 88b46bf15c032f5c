# lumra_stand_in(<target> [OUTPUT_NAME <name>] SOURCES <sources…>): a stand-in
# for a macOS command-line tool, built into the folder the simulated machine
# links its tools from. Tools run often and from copied bundles: the C++
# runtime is linked in, which saves start-up time; sanitizer builds keep the
# shared runtime their interceptors expect.
function(lumra_stand_in target)
  cmake_parse_arguments(STANDIN "" "OUTPUT_NAME" "SOURCES" ${ARGN})
  add_executable(${target} ${STANDIN_SOURCES})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${LUMRA_STANDIN_DIR}")
  if(STANDIN_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${STANDIN_OUTPUT_NAME})
  endif()
  target_link_libraries(${target} PRIVATE Platform)
  if(NOT LUMRA_SANITIZE)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
