# Run by the regenerate_presets target (cmake -P): the shipped looks from
# their text descriptions, then a render of each by lustra on the built-in
# title (640x360), then the half-size thumbnails and the contact sheet.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/home)
execute_process(COMMAND ${MAKE_PRESETS} ${SOURCE_DIR}/tools/presets ${SOURCE_DIR}/data/presets
                RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "make_presets failed")
endif()

# A VXHOME of its own (the pattern files of the build), so that no preset
# or setting of the user's takes part.
file(COPY ${DATA_DIR}/lustra DESTINATION ${WORK_DIR}/home)
set(ENV{VXHOME} ${WORK_DIR}/home)
execute_process(COMMAND ${LUSTRA} demo -o ${WORK_DIR}/demo --frames 2 --quiet -y OUTPUT_QUIET
                RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "lustra demo failed")
endif()

file(GLOB looks ${SOURCE_DIR}/data/presets/*.prf)
list(SORT looks)
set(renders)
foreach(look ${looks})
  get_filename_component(name ${look} NAME_WE)
  execute_process(COMMAND ${LUSTRA} render --title ${WORK_DIR}/demo/title.png
                          --background ${WORK_DIR}/demo/background.png --settings ${look}
                          -o ${WORK_DIR}/${name}.png --quiet -y
                  RESULT_VARIABLE result)
  if(result)
    message(FATAL_ERROR "lustra render of the look ${name} failed")
  endif()
  list(APPEND renders ${WORK_DIR}/${name}.png)
endforeach()

file(GLOB old ${SOURCE_DIR}/docs/presets/*.png)
if(old)
  file(REMOVE ${old})
endif()
execute_process(COMMAND ${MAKE_SHEET} ${SOURCE_DIR}/docs/presets.png ${SOURCE_DIR}/docs/presets
                        ${renders}
                RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "make_contact_sheet failed")
endif()
