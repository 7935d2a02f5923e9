find_package(X11 REQUIRED)
muralo_library(platform
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/System.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Process.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Desktop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopBackends.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11Wallpaper.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Shell.cpp
  LIBS classlib
  PRIVATE_LIBS X11::X11 X11::Xrandr)
