# lumra_bundle(<target> IDENTIFIER <id> NAME <display name> DIRECTORY <dir>)
# Builds <target> as <dir>/<target>.app/Contents/MacOS/<target> with the
# Contents/Info.plist that carries its bundle identifier, the layout the
# platform layer reads the main bundle from.
function(lumra_bundle target)
  cmake_parse_arguments(ARG "" "IDENTIFIER;NAME;DIRECTORY" "" ${ARGN})
  set(contents "${ARG_DIRECTORY}/${target}.app/Contents")
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${contents}/MacOS")
  set(BUNDLE_IDENTIFIER "${ARG_IDENTIFIER}")
  set(BUNDLE_NAME "${ARG_NAME}")
  set(BUNDLE_EXECUTABLE "${target}")
  set(BUNDLE_VERSION "${PROJECT_VERSION}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/Info.plist.in" "${contents}/Info.plist" @ONLY)
endfunction()
