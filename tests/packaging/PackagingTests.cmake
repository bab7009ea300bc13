# Tests of the installed Velmora. They need a packaged build (development build off), which the
# setup test packaging/build configures and builds in its own folder beside the tests; the
# tests then install it into temporary folders, package it and archive it. They share that
# build folder, so they take turns (RESOURCE_LOCK); each still runs alone with ctest -R.
set(VELMORA_PACKAGED_BUILD_DIR ${PROJECT_BINARY_DIR}/packaged)

set(velmora_packaging_tools rsvg-convert dpkg-buildflags dpkg-deb dpkg-shlibdeps lintian
  desktop-file-validate appstreamcli tar gzip Xvfb xwininfo)
set(velmora_packaging_missing "")
foreach(tool IN LISTS velmora_packaging_tools)
  string(MAKE_C_IDENTIFIER "VELMORA_TOOL_${tool}" variable)
  find_program(${variable} ${tool})
  if(NOT ${variable})
    list(APPEND velmora_packaging_missing ${tool})
  endif()
endforeach()

if(velmora_packaging_missing)
  # scripts/install-deps.sh installs all of them, so this only happens on a machine set up by hand.
  list(JOIN velmora_packaging_missing ", " missing)
  add_test(NAME packaging/skipped COMMAND ${CMAKE_COMMAND} -E echo
    "packaging tests skipped: ${missing} not installed (scripts/install-deps.sh installs them)")
  set_tests_properties(packaging/skipped PROPERTIES SKIP_REGULAR_EXPRESSION "packaging tests skipped")
  return()
endif()

velmora_add_test(packaging/tst_packagedbundle.cpp rules packaging/PackagingSupport.h)
velmora_add_test(packaging/tst_releasearchive.cpp rules packaging/PackagingSupport.h)

set(velmora_packaged_arguments "")
if(CMAKE_CXX_COMPILER_LAUNCHER)
  list(APPEND velmora_packaged_arguments "-DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}")
endif()
add_test(NAME packaging/build
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/packaged-build.sh ${VELMORA_PACKAGED_BUILD_DIR} ${velmora_packaged_arguments})
set_tests_properties(packaging/build PROPERTIES
  FIXTURES_SETUP velmora_packaged RESOURCE_LOCK velmora_packaged TIMEOUT 3600)

add_test(NAME packaging/metadata
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check-metadata.sh ${VELMORA_PACKAGED_BUILD_DIR})
add_test(NAME packaging/debian
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check-debian-package.sh ${VELMORA_PACKAGED_BUILD_DIR})
set_tests_properties(packaging/metadata packaging/debian packaging/tst_packagedbundle packaging/tst_releasearchive
  PROPERTIES FIXTURES_REQUIRED velmora_packaged RESOURCE_LOCK velmora_packaged)
set_tests_properties(packaging/metadata packaging/debian PROPERTIES TIMEOUT 600)
set_property(TEST packaging/metadata packaging/debian APPEND PROPERTY ENVIRONMENT "${VELMORA_TEST_ENV}")

foreach(test IN ITEMS tst_packagedbundle tst_releasearchive)
  target_compile_definitions(${test} PRIVATE
    VELMORA_CMAKE_COMMAND="${CMAKE_COMMAND}"
    VELMORA_PACKAGED_BUILD_DIR="${VELMORA_PACKAGED_BUILD_DIR}"
    VELMORA_DEVELOPMENT_BUILD_DIR="${PROJECT_BINARY_DIR}"
    VELMORA_PROJECT_VERSION="${PROJECT_VERSION}")
  target_link_libraries(${test} PRIVATE Qt6::Gui)
endforeach()
# The release is signed with the real signing tool and installed by the update engine.
target_compile_definitions(tst_releasearchive PRIVATE VELMORA_UPDATE_SIGN="$<TARGET_FILE:velmora-update-sign>")
add_dependencies(tst_releasearchive velmora-update-sign)
# It starts an X server of its own too (see tests/CMakeLists.txt).
set_property(TEST packaging/tst_packagedbundle APPEND PROPERTY RESOURCE_LOCK virtual_display)
