find_package(X11 REQUIRED)
muralo_library(platform
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Report.cpp
    ${CMAKE_CURRENT_LIST_DIR}/System.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Process.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Desktop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopBackends.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11Wallpaper.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ScreenWatch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Shell.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VersionInfo.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PEResources.cpp
  LIBS classlib
  PRIVATE_LIBS X11::X11 X11::Xrandr X11::Xext)

# Writes the program's VS_VERSIONINFO block at build time (run on the build machine).
add_executable(muralo-versionres ${CMAKE_CURRENT_LIST_DIR}/VersionResourceTool.cpp)
target_link_libraries(muralo-versionres PRIVATE platform muralo_warnings)
