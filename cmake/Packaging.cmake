# SPDX-License-Identifier: GPL-3.0-or-later
# What a distribution installs besides the program, and the Debian package (scripts/package).

set(QUILLORA_APP_ID io.github.quillora.Camera)
install(FILES packaging/${QUILLORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/quillora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/${QUILLORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillora)

# The udev rules go where this system's udev reads them (udev.pc's udevdir); without udev's
# pkg-config file, under the prefix.
pkg_get_variable(QUILLORA_UDEV_PC_DIR udev udevdir)
if(QUILLORA_UDEV_PC_DIR)
  set(QUILLORA_UDEV_DEFAULT ${QUILLORA_UDEV_PC_DIR})
else()
  set(QUILLORA_UDEV_DEFAULT ${CMAKE_INSTALL_PREFIX}/lib/udev)
endif()
set(QUILLORA_UDEV_DIR ${QUILLORA_UDEV_DEFAULT} CACHE PATH "udev's folder; the rule goes into its rules.d")
install(FILES packaging/70-quillora.rules DESTINATION ${QUILLORA_UDEV_DIR}/rules.d)

# The Debian package. The dependencies are the runtime libraries and plugins the program
# loads: Qt (with the SVG plugin for the icon), the GStreamer elements of its pipelines
# (v4l2src, x264enc, avenc_aac, qtmux, pulsesrc, videotestsrc), libusb, libyuv, giflib,
# libimagequant, TurboJPEG, and xdg-utils to open files and the help page.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillora)
set(CPACK_PACKAGE_VENDOR "Quillora")
set(CPACK_PACKAGE_CONTACT "Quillora Camera developers <camera@quillora.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Live picture, photos and movies of Quillora document cameras")
set(CPACK_PACKAGE_DESCRIPTION "Shows the live picture of a Quillora USB document camera, turns and freezes it,\n\
saves it as a photo (JPEG, PNG, GIF, TIFF) or records a QuickTime movie with sound, lets the\n\
camera focus and takes a photo when the camera's own button is pressed.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# The linked libraries (Qt, GStreamer, libusb, libyuv, giflib, libimagequant, TurboJPEG) with
# their versions come from dpkg-shlibdeps; the plugins and programs loaded at run time are
# named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-qpa-plugins, qt6-image-formats-plugins, \
gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, \
gstreamer1.0-libav, gstreamer1.0-pulseaudio, xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)
