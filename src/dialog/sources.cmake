# Sources of the settings dialog and its preview render, compiled into the module.
set(LUSTRA_DIALOG_SOURCES
  ${CMAKE_SOURCE_DIR}/src/dialog/SettingsDialog.cpp
  ${CMAKE_SOURCE_DIR}/src/dialog/DialogServices.cpp
  ${CMAKE_SOURCE_DIR}/src/dialog/PageTables.cpp
  ${CMAKE_SOURCE_DIR}/src/dialog/Panels.cpp
  ${CMAKE_SOURCE_DIR}/src/dialog/PreviewDisplay.cpp
  ${CMAKE_SOURCE_DIR}/src/dialog/Presets.cpp
  ${CMAKE_SOURCE_DIR}/src/dialog/EventHandling.cpp
  ${CMAKE_SOURCE_DIR}/src/driver/PreviewRender.cpp)
