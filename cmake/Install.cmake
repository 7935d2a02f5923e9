# Installation as a desktop program and the Debian package.
#
#   cmake --install build [--prefix /usr]          (make install PREFIX=/usr DESTDIR=...)
#   make package                                    (a .deb through CPack in the build folder)
#
# Files go where a freedesktop desktop looks for them: the programs in bin/, the help beside the
# program's other data in share/muralo/, the menu entry in share/applications/, icons in the hicolor
# theme, AppStream metadata in share/metainfo/, manual pages (English, and French under man/fr/),
# and an autostart example with the documentation.
include(GNUInstallDirs)
# Debian names the documentation folder after the package, in lower case.
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/muralo)

set(MURALO_APP_ID "fr.brenwick.Muralo" CACHE INTERNAL "Reverse-DNS id of the desktop entry and metadata")
set(MURALO_VENDOR "Brenwick")
set(MURALO_HOMEPAGE "https://www.brenwick.fr/muralo")
set(MURALO_CONTACT "muralo@brenwick.fr")

set(_desktop_src ${PROJECT_SOURCE_DIR}/resources/desktop)
set(_man_src ${PROJECT_SOURCE_DIR}/resources/man)
set(_gen ${PROJECT_BINARY_DIR}/install-files)
file(MAKE_DIRECTORY ${_gen})

configure_file(${_desktop_src}/muralo.desktop.in ${_gen}/${MURALO_APP_ID}.desktop @ONLY)
configure_file(${_desktop_src}/muralo-autostart.desktop.in ${_gen}/muralo-autostart.desktop @ONLY)
configure_file(${_desktop_src}/muralo.metainfo.xml.in ${_gen}/${MURALO_APP_ID}.metainfo.xml @ONLY)

# ---- programs and help ----
install(TARGETS muralo muralo-img RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The help target leaves muralo.chm (with chmcmd) or the pages in aide/ beside the program; both
# forms are installed when present, and the program looks for them in <prefix>/share/muralo.
install(FILES ${PROJECT_BINARY_DIR}/app/muralo.chm DESTINATION ${CMAKE_INSTALL_DATADIR}/muralo OPTIONAL)
install(DIRECTORY ${PROJECT_BINARY_DIR}/app/aide DESTINATION ${CMAKE_INSTALL_DATADIR}/muralo OPTIONAL)

# ---- menu entry, metadata, autostart example ----
install(FILES ${_gen}/${MURALO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_gen}/${MURALO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_gen}/muralo-autostart.desktop DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# ---- icons: the scalable drawing, and PNG renderings of it at the theme's usual sizes ----
set(MURALO_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(MURALO_RSVG rsvg-convert)
find_program(MURALO_IM_CONVERT convert-im6.q16)
set(_icon_outputs "")
foreach(size IN LISTS MURALO_ICON_SIZES)
  set(out ${_gen}/icons/${size}x${size}/${MURALO_APP_ID}.png)
  if(MURALO_RSVG)
    set(cmd ${MURALO_RSVG} --width=${size} --height=${size} --keep-aspect-ratio -o ${out} ${_desktop_src}/muralo.svg)
  elseif(MURALO_IM_CONVERT)
    set(cmd ${MURALO_IM_CONVERT} -background none -density 384 ${_desktop_src}/muralo.svg -resize ${size}x${size} ${out})
  else()
    message(STATUS "Neither rsvg-convert nor ImageMagick: only the scalable icon is installed")
    break()
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_gen}/icons/${size}x${size}
    COMMAND ${cmd}
    DEPENDS ${_desktop_src}/muralo.svg
    COMMENT "Rendering the ${size}x${size} icon" VERBATIM)
  list(APPEND _icon_outputs ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${_desktop_src}/muralo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${MURALO_APP_ID}.svg)

# ---- manual pages, compressed as Debian wants them ----
find_program(MURALO_GZIP gzip REQUIRED)
set(_man_outputs "")
foreach(lang IN ITEMS en fr)
  if(lang STREQUAL "en")
    set(src_dir ${_man_src})
    set(dest ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    set(src_dir ${_man_src}/${lang})
    set(dest ${CMAKE_INSTALL_MANDIR}/${lang}/man1)
  endif()
  foreach(page IN ITEMS muralo.1 muralo-img.1)
    set(filled ${_gen}/man/${lang}/${page})
    configure_file(${src_dir}/${page} ${filled} @ONLY)
    add_custom_command(OUTPUT ${filled}.gz
      COMMAND ${MURALO_GZIP} -9 -n -f -k ${filled}
      DEPENDS ${filled}
      COMMENT "Compressing the manual page ${lang}/${page}" VERBATIM)
    list(APPEND _man_outputs ${filled}.gz)
    install(FILES ${filled}.gz DESTINATION ${dest})
  endforeach()
endforeach()

# ---- Debian documentation: copyright and the changelog of this native package ----
configure_file(${_desktop_src}/copyright.in ${_gen}/copyright @ONLY)
configure_file(${_desktop_src}/changelog.in ${_gen}/changelog @ONLY)
add_custom_command(OUTPUT ${_gen}/changelog.gz
  COMMAND ${MURALO_GZIP} -9 -n -f -k ${_gen}/changelog
  DEPENDS ${_gen}/changelog VERBATIM)
install(FILES ${_gen}/copyright ${_gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

add_custom_target(muralo_install_files ALL DEPENDS ${_icon_outputs} ${_man_outputs} ${_gen}/changelog.gz)

# The programs are hardened the way Debian builds its own (read-only relocations, bound at load).
target_link_options(muralo PRIVATE -Wl,-z,relro,-z,now)
target_link_options(muralo-img PRIVATE -Wl,-z,relro,-z,now)

# ---- the Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME muralo)
set(CPACK_PACKAGE_VENDOR ${MURALO_VENDOR})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MURALO_VENDOR} <${MURALO_CONTACT}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "wallpaper changer living in the notification area")
set(CPACK_PACKAGE_DESCRIPTION "Muralo keeps a list of picture files and makes one of them the desktop
wallpaper on demand, at start-up, or on a timer that walks the list in order
or at random: at its own size, stretched with or without keeping its
proportions, tiled or centred, optionally with the file name in a corner.
Its user interface is in French. It reads BMP, JPEG, PNG, TIFF, Photoshop,
Paint Shop Pro, Targa, PCX, SGI, Photo-CD, portable maps, Windows metafiles
and more with its own image framework.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${MURALO_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xchm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
