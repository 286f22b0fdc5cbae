# Sources of the settings dialog, compiled into the module.
set(LUSTRA_DIALOG_SOURCES
  ${CMAKE_SOURCE_DIR}/src/dialog/SettingsDialog.cpp)
