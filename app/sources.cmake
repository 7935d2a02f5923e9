# The Qt program: every source but main.cpp forms the library `app`, which the executable and the
# tests link.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

muralo_library(app
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ImageList.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Wallpaper.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QtBridge.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SystemServices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogFilters.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OpenPictureDialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Splash.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SignalWatcher.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Unit1.h
    ${CMAKE_CURRENT_LIST_DIR}/Unit1.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Unit1Lists.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Unit1.ui
    ${CMAKE_CURRENT_LIST_DIR}/LongTimer.h
    ${CMAKE_CURRENT_LIST_DIR}/LongTimer.cpp
  LIBS imaging platform classlib Qt6::Widgets)
set_target_properties(app PROPERTIES AUTOMOC ON AUTOUIC ON)

add_executable(muralo ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(muralo PRIVATE app muralo_warnings)
muralo_embed_resources(TARGET muralo
  ENTRIES
    RCDATA IMAGE2 ../resources/icons/stopped.ico
    RCDATA IMAGE3 ../resources/icons/running.ico
    RCDATA SPLASH ../resources/splash.bmp)

# ---- timer: duration arithmetic and dialog TForm2, help commands and help file (owner: timer) ----
# TLongTimer (LongTimer.cpp, above) is the timer engineer's too. The program library links app_timer;
# target muralo_help builds muralo.chm (or the HTML pages) into this build folder, beside the program.
muralo_library(app_timer
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Duration.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Unit2.h
    ${CMAKE_CURRENT_LIST_DIR}/Unit2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Unit2.ui
    ${CMAKE_CURRENT_LIST_DIR}/Help.cpp
  LIBS classlib platform Qt6::Widgets)
set_target_properties(app_timer PROPERTIES AUTOMOC ON AUTOUIC ON)
target_link_libraries(app PUBLIC app_timer)
include(${PROJECT_SOURCE_DIR}/resources/help/Help.cmake)
muralo_help(OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR})
# ---- end of timer ----

# ---- preview window TImgWin, search dialog TForm3, About box (owner: windows) ----
target_sources(app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ImageWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/ImageWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageWindow.ui
  ${CMAKE_CURRENT_LIST_DIR}/Unit3.h
  ${CMAKE_CURRENT_LIST_DIR}/Unit3.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Unit3.ui
  ${CMAKE_CURRENT_LIST_DIR}/VInfo.h
  ${CMAKE_CURRENT_LIST_DIR}/VInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AboutBox.h
  ${CMAKE_CURRENT_LIST_DIR}/AboutBox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AboutBox.ui)

# The program's version resource: a VS_VERSIONINFO block written at build time from the project's
# version and resources/version.txt, embedded through the resource table by the library
# muralo_version (RegisterVersionResource), which the program and its tests link.
set(MURALO_VERSION_RESOURCE ${CMAKE_CURRENT_BINARY_DIR}/muralo-version.res)
add_custom_command(
  OUTPUT ${MURALO_VERSION_RESOURCE}
  COMMAND muralo-versionres ${MURALO_VERSION_RESOURCE} ${PROJECT_VERSION} ${PROJECT_SOURCE_DIR}/resources/version.txt
  DEPENDS muralo-versionres ${PROJECT_SOURCE_DIR}/resources/version.txt
  COMMENT "Writing the version resource"
  VERBATIM)
add_library(muralo_version STATIC)
muralo_embed_resources(TARGET muralo_version FUNCTION RegisterVersionResource
  ENTRIES VERSION 1 ${MURALO_VERSION_RESOURCE})
target_link_libraries(muralo PRIVATE muralo_version)
# ---- end of windows ----
