# Installing Velmora.
#
# `cmake --install BUILD --prefix DIR` lays out the bundle: one folder, DIR, that Velmora finds
# everything in relative to its own executable, so it keeps working wherever DIR is moved:
#
#   bin/velmora                    the application
#   bin/velmora-child-watch        asks the backend to stop once, whenever Velmora ends
#   Info.json                      the bundle's information (version, update settings)
#   Resources/app/src/             the backend's code (PYTHONPATH of the backend)
#   Resources/<interpreter entry>  what the packaged launch plan runs (VELMORA_BUNDLED_INTERPRETER)
#   Resources/velmora.png          the icon Velmora shows for itself
#   share/applications, share/metainfo, share/icons/hicolor
#                                  the desktop integration files, to link into a user's
#                                  ~/.local/share or to copy into a system's /usr/share
#
# The install component "debian" (excluded from a plain install; the Debian package is made
# from it) lays out the same bundle for a system: the bundle in lib/velmora, /usr/bin/velmora as
# a link into it, the desktop integration files, a manual page and the package's documents
# under share.

set(VELMORA_SYSTEM_PYTHON "/usr/bin/python3" CACHE FILEPATH
  "The interpreter the bundle's interpreter entry hands over to")

cmake_path(IS_ABSOLUTE VELMORA_BUNDLED_INTERPRETER velmora_entry_absolute)
if(velmora_entry_absolute OR VELMORA_BUNDLED_INTERPRETER STREQUAL ""
   OR VELMORA_BUNDLED_INTERPRETER MATCHES "(^|/)\\.\\.(/|$)" OR VELMORA_BUNDLED_INTERPRETER MATCHES "/$")
  message(FATAL_ERROR "VELMORA_BUNDLED_INTERPRETER must name a file inside the bundle's Resources "
                      "folder by a relative path, not \"${VELMORA_BUNDLED_INTERPRETER}\"")
endif()

if(VELMORA_DEVELOPMENT_BUILD)
  install(CODE "message(FATAL_ERROR \"A development build runs its backend from the source tree and \
cannot be installed. Configure another build folder with -DVELMORA_DEVELOPMENT_BUILD=OFF.\")")
  return()
endif()

set(VELMORA_APP_ID "app.velmora.Velmora")
set(velmora_linux ${PROJECT_SOURCE_DIR}/packaging/linux)
set(velmora_staged ${PROJECT_BINARY_DIR}/bundle)
# Installed folders get the same permissions whatever the installing user's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Generated bundle files. Nothing here may name a path of the build or source tree.
configure_file(${velmora_linux}/python-entry.in ${velmora_staged}/python-entry @ONLY)
set(VELMORA_RELEASE_NOTES_HOSTS_JSON "")
set(comma "")
foreach(host IN LISTS VELMORA_RELEASE_NOTES_HOSTS)
  string(APPEND VELMORA_RELEASE_NOTES_HOSTS_JSON "${comma}\"${host}\"")
  set(comma ", ")
endforeach()
set(VELMORA_UPDATE_PUBLIC_KEYS_JSON "")
set(comma "")
foreach(key IN LISTS VELMORA_UPDATE_PUBLIC_KEYS)
  string(APPEND VELMORA_UPDATE_PUBLIC_KEYS_JSON "${comma}\"${key}\"")
  set(comma ", ")
endforeach()
configure_file(${velmora_linux}/Info.json.in ${velmora_staged}/Info.json @ONLY)

# The icon's PNG sizes, drawn from the SVG when building.
find_program(VELMORA_RSVG_CONVERT rsvg-convert)
if(NOT VELMORA_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert (Debian package librsvg2-bin) draws the icon's PNG sizes; "
                      "run scripts/install-deps.sh")
endif()
set(velmora_icon_svg ${velmora_linux}/${VELMORA_APP_ID}.svg)
set(VELMORA_ICON_SIZES 16 24 32 48 64 128 256 512)
set(velmora_icon_pngs "")
foreach(size IN LISTS VELMORA_ICON_SIZES)
  set(png ${velmora_staged}/icons/${size}x${size}/${VELMORA_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${velmora_staged}/icons/${size}x${size}
    COMMAND ${VELMORA_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${velmora_icon_svg}
    DEPENDS ${velmora_icon_svg}
    VERBATIM)
  list(APPEND velmora_icon_pngs ${png})
endforeach()

# The Debian package's documents: the manual page and the changelog, compressed without names
# or times so that the same sources give the same bytes.
find_program(VELMORA_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${velmora_staged}/velmora.1.gz
  COMMAND ${VELMORA_GZIP} -9 -n -c ${velmora_linux}/velmora.1 > ${velmora_staged}/velmora.1.gz
  DEPENDS ${velmora_linux}/velmora.1
  VERBATIM)
# The changelog's entry is this version's release in the metainfo, which holds every release
# with its date.
file(READ ${velmora_linux}/${VELMORA_APP_ID}.metainfo.xml velmora_metainfo)
string(REPLACE "." "\\." velmora_version_pattern "${VELMORA_VERSION_STRING}")
if(velmora_metainfo MATCHES "<release version=\"${velmora_version_pattern}\" date=\"([0-9-]+)\"")
  execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_1} 00:00:00 UTC"
    OUTPUT_VARIABLE velmora_release_date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(velmora_distribution "stable")
else()
  message(WARNING "${VELMORA_APP_ID}.metainfo.xml has no release ${VELMORA_VERSION_STRING}: "
                  "add it before making packages of this version")
  set(velmora_release_date "Thu, 01 Jan 1970 00:00:00 +0000")
  set(velmora_distribution "UNRELEASED")
endif()
set(VELMORA_MAINTAINER "The Velmora developers <packages@velmora.app>")
file(CONFIGURE OUTPUT ${velmora_staged}/changelog CONTENT
"velmora (${VELMORA_VERSION_STRING}) ${velmora_distribution}; urgency=medium

  * Velmora ${VELMORA_VERSION_STRING}; what changed is in the release notes.

 -- ${VELMORA_MAINTAINER}  ${velmora_release_date}
")
add_custom_command(OUTPUT ${velmora_staged}/changelog.gz
  COMMAND ${VELMORA_GZIP} -9 -n -c ${velmora_staged}/changelog > ${velmora_staged}/changelog.gz
  DEPENDS ${velmora_staged}/changelog
  VERBATIM)

# Everything an installation takes from the build; the scripts build this target.
add_custom_target(velmora_bundle ALL
  DEPENDS ${velmora_icon_pngs} ${velmora_staged}/velmora.1.gz ${velmora_staged}/changelog.gz)
add_dependencies(velmora_bundle velmora)

# One bundle at `bundle` (relative to the prefix; empty: the prefix itself) with the desktop
# integration files under the prefix's share folder. ARGN: the install options of the layout.
function(velmora_install_bundle bundle)
  cmake_path(APPEND bundle "bin" OUTPUT_VARIABLE bin)
  cmake_path(APPEND bundle "Resources" OUTPUT_VARIABLE resources)
  cmake_path(GET VELMORA_BUNDLED_INTERPRETER PARENT_PATH entry_folder)
  cmake_path(GET VELMORA_BUNDLED_INTERPRETER FILENAME entry_name)
  cmake_path(APPEND resources "${entry_folder}" OUTPUT_VARIABLE entry_destination)
  if(bundle STREQUAL "")
    set(bundle ".")
  endif()

  install(TARGETS velmora velmora-child-watch RUNTIME DESTINATION ${bin} ${ARGN})
  install(FILES ${velmora_staged}/Info.json DESTINATION ${bundle} ${ARGN})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/backend/src DESTINATION ${resources}/app ${ARGN}
    PATTERN __pycache__ EXCLUDE
    PATTERN "*.pyc" EXCLUDE)
  install(PROGRAMS ${velmora_staged}/python-entry DESTINATION ${entry_destination} RENAME ${entry_name} ${ARGN})
  install(FILES ${velmora_staged}/icons/256x256/${VELMORA_APP_ID}.png DESTINATION ${resources}
    RENAME velmora.png ${ARGN})

  install(FILES ${velmora_linux}/${VELMORA_APP_ID}.desktop DESTINATION share/applications ${ARGN})
  install(FILES ${velmora_linux}/${VELMORA_APP_ID}.metainfo.xml DESTINATION share/metainfo ${ARGN})
  install(FILES ${velmora_icon_svg} DESTINATION share/icons/hicolor/scalable/apps ${ARGN})
  foreach(size IN LISTS VELMORA_ICON_SIZES)
    install(FILES ${velmora_staged}/icons/${size}x${size}/${VELMORA_APP_ID}.png
      DESTINATION share/icons/hicolor/${size}x${size}/apps ${ARGN})
  endforeach()
endfunction()

velmora_install_bundle("")

# The system layout. The link is relative, so it holds under any prefix and staging folder.
velmora_install_bundle("lib/velmora" COMPONENT debian EXCLUDE_FROM_ALL)
file(CREATE_LINK ../lib/velmora/bin/velmora ${velmora_staged}/velmora-link SYMBOLIC)
install(FILES ${velmora_staged}/velmora-link DESTINATION bin RENAME velmora COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${velmora_staged}/velmora.1.gz DESTINATION share/man/man1 COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${velmora_staged}/changelog.gz
  DESTINATION share/doc/velmora COMPONENT debian EXCLUDE_FROM_ALL)
