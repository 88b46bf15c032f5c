# The service ships as one application bundle, Lumra.app, whose identifier is
# the base (release) identifier: its programs sit in Contents/MacOS and the
# notifier's own bundle in Contents/Helpers, so every one of them resolves the
# same identity and state folder. An executable outside a bundle is a
# development build.
set(LUMRA_APP_DIR "${CMAKE_BINARY_DIR}/Lumra.app" CACHE INTERNAL "The service's application bundle")

# Writes <contents>/Info.plist for a bundle with this identifier, name and
# main executable.
function(lumra_info_plist contents identifier name executable)
  set(BUNDLE_IDENTIFIER "${identifier}")
  set(BUNDLE_NAME "${name}")
  set(BUNDLE_EXECUTABLE "${executable}")
  set(BUNDLE_VERSION "${PROJECT_VERSION}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/Info.plist.in" "${contents}/Info.plist" @ONLY)
endfunction()

# The app process, lumra-app, is the bundle's main executable.
lumra_info_plist("${LUMRA_APP_DIR}/Contents" "${LUMRA_RELEASE_ID}" "Lumra" "lumra-app")

# lumrad is the app's launch agent: the app registers this definition and
# launchd runs lumrad from the installed copy, starting it again when it
# ends. Written before signing, so the seal covers it.
configure_file("${PROJECT_SOURCE_DIR}/cmake/lumrad.plist.in"
  "${LUMRA_APP_DIR}/Contents/Library/LaunchAgents/${LUMRA_RELEASE_ID}.lumrad.plist" @ONLY)

# Who signs the build's bundles.
set(LUMRA_SIGNING_IDENTITY "Developer ID Application: Lumra Project (LUMRA00001)")

# lumra_bundle(<target> IDENTIFIER <id> NAME <display name> DIRECTORY <dir>)
# Builds <target> as <dir>/<target>.app/Contents/MacOS/<target> with the
# Contents/Info.plist that carries its bundle identifier, the layout the
# platform layer reads the main bundle from.
function(lumra_bundle target)
  cmake_parse_arguments(ARG "" "IDENTIFIER;NAME;DIRECTORY" "" ${ARGN})
  set(contents "${ARG_DIRECTORY}/${target}.app/Contents")
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${contents}/MacOS")
  lumra_info_plist("${contents}" "${ARG_IDENTIFIER}" "${ARG_NAME}" "${target}")
  set_property(GLOBAL APPEND PROPERTY LUMRA_BUNDLE_TARGETS ${target})
endfunction()

# lumra_app_executable(<target>): builds <target> into Lumra.app/Contents/MacOS,
# with a link build/<target> to it for people who start it by hand (the
# program still finds its bundle: the link resolves to the real path).
function(lumra_app_executable target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${LUMRA_APP_DIR}/Contents/MacOS")
  file(CREATE_LINK "Lumra.app/Contents/MacOS/${target}" "${CMAKE_BINARY_DIR}/${target}" SYMBOLIC)
  set_property(GLOBAL APPEND PROPERTY LUMRA_BUNDLE_TARGETS ${target})
endfunction()

# lumra_sign_bundle(): once every program is declared, signs Lumra.app (the
# nested bundles first) after every program in it has linked, on every build,
# so the seal always matches what was built.
function(lumra_sign_bundle)
  get_property(programs GLOBAL PROPERTY LUMRA_BUNDLE_TARGETS)
  add_custom_target(sign-bundle ALL
    COMMAND ${CMAKE_COMMAND} -E env LUMRA_SIM_ROOT=${CMAKE_BINARY_DIR}/signing-machine
            $<TARGET_FILE:lumra-sim> sign "${LUMRA_APP_DIR}" --identity "${LUMRA_SIGNING_IDENTITY}" --hardened
    COMMENT "Signing Lumra.app"
    VERBATIM)
  add_dependencies(sign-bundle lumra-sim ${programs})
endfunction()
