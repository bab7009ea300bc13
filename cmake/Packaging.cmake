# The Debian package, made by CPack from the install component "debian" (see Install.cmake):
#
#   cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_DEVELOPMENT_BUILD=OFF \
#         -DVELMORA_BUNDLED_INTERPRETER=python/bin/python3
#   cd build-deb && cpack -G DEB
#
# scripts/make-deb.sh does this with Debian's build flags and runs lintian on the result.

if(VELMORA_DEVELOPMENT_BUILD)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${VELMORA_VERSION_STRING})
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "${VELMORA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn recordings into text, subtitles and Markdown")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_PACKAGE_NAME velmora)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELMORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.app/")
# Shared libraries as dpkg-shlibdeps finds them; the backend's interpreter and packages, and
# the fonts that draw Korean text, are not linked and so are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.10), python3-fastapi, python3-uvicorn, fonts-noto-cjk, qt6-translations-l10n")
# The desktop's own file panels: GTK's on GTK-based desktops, the portal's elsewhere.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-gtk-platformtheme, qt6-xdgdesktopportal-platformtheme")
# The summary above is the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velmora turns voice memos and other audio and video recordings into plain
text, subtitles and Markdown on this computer. It runs its own service on the
loopback interface with Debian's Python and shows that service in its window,
so recordings never leave the machine.")

include(CPack)
