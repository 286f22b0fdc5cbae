# Installation: `cmake --install build --prefix PREFIX` and a Debian package
# made with CPack (`cpack --config build/CPackConfig.cmake -G DEB`).
#
#   PREFIX/bin/lustra                      the command-line host
#   PREFIX/lib/lustra/LustraFex.so         the effect module (found by lustra
#   PREFIX/lib/lustra/libLustraHost.so     next to itself, via ../lib/lustra)
#   PREFIX/share/lustra/data/lustra/*.pat  the data directory (pattern files)
#   PREFIX/share/lustra/data/presets/*.prf the shipped looks (lustra presets)
#   PREFIX/share/man/man1/lustra.1         the manual page
#   PREFIX/share/doc/lustra/README.md
include(GNUInstallDirs)

set(LUSTRA_INSTALL_LIBDIR lib/lustra)

if(TARGET lustra)
  # The installed program finds its host library relative to itself.
  set_target_properties(lustra PROPERTIES INSTALL_RPATH "$ORIGIN/../${LUSTRA_INSTALL_LIBDIR}")
  install(TARGETS lustra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
set_target_properties(LustraFex PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS LustraFex LIBRARY DESTINATION ${LUSTRA_INSTALL_LIBDIR})
install(TARGETS LustraHost LIBRARY DESTINATION ${LUSTRA_INSTALL_LIBDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION share/lustra/data)
install(DIRECTORY DESTINATION share/lustra/data/programs/lustra/settings)
# The shipped looks (data/presets) also where the dialog's preset requester
# opens; lustra installs them into the user's VXHOME the same way.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/presets/ DESTINATION share/lustra/data/programs/lustra/looks
        FILES_MATCHING PATTERN "*.prf")
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(EXISTS ${CMAKE_SOURCE_DIR}/docs/lustra.1)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/lustra.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME lustra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "LustraFex developers <lustrafex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "LustraFex effect module and lustra, its command-line host for pictures and video")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libavformat59, libavcodec59, libswscale6, libavutil57, libstdc++6, libc6")
if(LUSTRA_HAVE_TEXT)
  # Typed titles: the layout libraries and the default font.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libpangocairo-1.0-0, libpango-1.0-0, libcairo2, libfontconfig1, fonts-dejavu-core")
endif()
include(CPack)

# The frei0r plug-ins: PREFIX/lib/frei0r-1/lustrafex.so (filter) and
# lustrafex_mixer.so (mixer2), with their runtime libLustraFrei0r.so beside
# the module in PREFIX/lib/lustra/, where it finds LustraFex.so, and
# PREFIX/share/lustra/data.
if(TARGET lustrafex)
  set_target_properties(LustraFrei0r PROPERTIES INSTALL_RPATH "$ORIGIN")
  set_target_properties(lustrafex lustrafex_mixer PROPERTIES
    INSTALL_RPATH "$ORIGIN/../lustra")
  install(TARGETS LustraFrei0r LIBRARY DESTINATION ${LUSTRA_INSTALL_LIBDIR})
  install(TARGETS lustrafex lustrafex_mixer LIBRARY DESTINATION lib/frei0r-1)
endif()
