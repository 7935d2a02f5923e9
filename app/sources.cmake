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
    ${CMAKE_CURRENT_LIST_DIR}/Splash.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SignalWatcher.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Unit1.h
    ${CMAKE_CURRENT_LIST_DIR}/Unit1.cpp
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
