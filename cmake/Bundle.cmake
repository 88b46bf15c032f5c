# The service ships as one application bundle, Lumra.app, whose identifier is
# the base (release) identifier: its programs sit in Contents/MacOS and the
# notifier's own bundle in Contents/Helpers, so every one of them resolves the
# same identity and state folder. An executable outside a bundle is a
# development build.
set(LUMRA_APP_DIR "${CMAKE_BINARY_DIR}/Lumra.app" CACHE INTERNAL "The service's application bundle")
# GrantLab.app, the harness app (tools/grantlab), is built beside it; tests
# of other folders, configured before that one, copy it too.
set(GRANTLAB_APP_DIR "${CMAKE_BINARY_DIR}/GrantLab.app" CACHE INTERNAL "The harness app's bundle")

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

# lumra_job_plist(<file> LABEL <label> EXECUTABLE <name> [ARGUMENTS <argument>…])
# Writes a launchd job definition that runs Contents/MacOS/<name> of the
# bundle holding it with those arguments, at load and again whenever it ends.
# Written before signing, so the seal covers it.
function(lumra_job_plist file)
  cmake_parse_arguments(ARG "" "LABEL;EXECUTABLE" "ARGUMENTS" ${ARGN})
  set(JOB_LABEL "${ARG_LABEL}")
  set(JOB_EXECUTABLE "${ARG_EXECUTABLE}")
  set(JOB_ARGUMENTS "\t\t<string>${ARG_EXECUTABLE}</string>")
  foreach(argument IN LISTS ARG_ARGUMENTS)
    string(APPEND JOB_ARGUMENTS "\n\t\t<string>${argument}</string>")
  endforeach()
  configure_file("${PROJECT_SOURCE_DIR}/cmake/job.plist.in" "${file}" @ONLY)
endfunction()

# lumrad is the app's launch agent: the app registers this definition and
# launchd runs lumrad from the installed copy, starting it again when it
# ends.
lumra_job_plist("${LUMRA_APP_DIR}/Contents/Library/LaunchAgents/${LUMRA_RELEASE_ID}.lumrad.plist"
  LABEL "${LUMRA_RELEASE_ID}.lumrad" EXECUTABLE lumrad ARGUMENTS --service-log)

# Who signs the build's bundles.
set(LUMRA_SIGNING_IDENTITY "Developer ID Application: Lumra Project (LUMRA00001)")

# lumra_bundle(<target> IDENTIFIER <id> NAME <display name> DIRECTORY <dir>
#              [APP <folder name>] [STANDALONE])
# Builds <target> as <dir>/<folder>.app/Contents/MacOS/<target> (the folder
# is named after the target unless APP names it) with the
# Contents/Info.plist that carries its bundle identifier, the layout the
# platform layer reads the main bundle from. A bundle inside Lumra.app is
# sealed with it; a STANDALONE one is an app of its own, signed by
# lumra_sign_app.
function(lumra_bundle target)
  cmake_parse_arguments(ARG "STANDALONE" "IDENTIFIER;NAME;DIRECTORY;APP" "" ${ARGN})
  if(NOT ARG_APP)
    set(ARG_APP "${target}")
  endif()
  set(contents "${ARG_DIRECTORY}/${ARG_APP}.app/Contents")
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${contents}/MacOS")
  lumra_info_plist("${contents}" "${ARG_IDENTIFIER}" "${ARG_NAME}" "${target}")
  if(NOT ARG_STANDALONE)
    set_property(GLOBAL APPEND PROPERTY LUMRA_BUNDLE_TARGETS ${target})
  endif()
endfunction()

# lumra_app_executable(<target>): builds <target> into Lumra.app/Contents/MacOS,
# with a link build/<target> to it for people who start it by hand (the
# program still finds its bundle: the link resolves to the real path).
function(lumra_app_executable target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${LUMRA_APP_DIR}/Contents/MacOS")
  file(CREATE_LINK "Lumra.app/Contents/MacOS/${target}" "${CMAKE_BINARY_DIR}/${target}" SYMBOLIC)
  set_property(GLOBAL APPEND PROPERTY LUMRA_BUNDLE_TARGETS ${target})
endfunction()

# lumra_sign_app(<target> APP <dir> PROGRAMS <program>… [ENTITLEMENTS <plist>])
# Adds <target>, which signs the app at <dir> (nested bundles first) as the
# build's signer with the hardened runtime and the entitlements of the
# property list, after every program in it has linked, on every build, so
# the seal always matches what was built. Each app is signed on a machine of
# its own, so two signings never lay out one machine at once.
function(lumra_sign_app target)
  cmake_parse_arguments(ARG "" "APP;ENTITLEMENTS" "PROGRAMS" ${ARGN})
  set(entitlements)
  if(ARG_ENTITLEMENTS)
    set(entitlements --entitlements "${ARG_ENTITLEMENTS}")
  endif()
  get_filename_component(name "${ARG_APP}" NAME)
  add_custom_target(${target} ALL
    COMMAND ${CMAKE_COMMAND} -E env LUMRA_SIM_ROOT=${CMAKE_BINARY_DIR}/signing-machines/${target}
            $<TARGET_FILE:lumra-sim> sign "${ARG_APP}" --identity "${LUMRA_SIGNING_IDENTITY}" --hardened
            ${entitlements}
    COMMENT "Signing ${name}"
    VERBATIM)
  add_dependencies(${target} lumra-sim ${ARG_PROGRAMS})
endfunction()

# lumra_sign_bundle(): once every program is declared, signs Lumra.app.
function(lumra_sign_bundle)
  get_property(programs GLOBAL PROPERTY LUMRA_BUNDLE_TARGETS)
  lumra_sign_app(sign-bundle APP "${LUMRA_APP_DIR}" PROGRAMS ${programs})
endfunction()
