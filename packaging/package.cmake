# package.cmake - what `cmake --install` puts in place besides the programs (desktop entry,
# icon, manual pages, AppStream metadata, Debian documents) and the Debian package made of
# everything installed. Included last, so that the package holds every installed program,
# cncmirel-prep included when tools/prep installs it.

set(PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(CNC_METAINFO_ID org.cncmirel.cncmirel)
set(CNC_PACKAGE_MAINTAINER "CNC Mirel developers <cncmirel@users.noreply.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

# Manual pages carry the version of project(); Debian wants them compressed, without a time
# stamp in the gzip header (-n) so that the package builds the same twice.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(MAN_PAGES cncmirel cncmirel-sim)
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/prep/CMakeLists.txt)
  list(APPEND MAN_PAGES cncmirel-prep)
endif()
set(COMPRESSED_DOCS)
foreach(page ${MAN_PAGES})
  configure_file(${PACKAGING_DIR}/${page}.1.in ${PACKAGING_OUT}/${page}.1 @ONLY)
  list(APPEND COMPRESSED_DOCS ${PACKAGING_OUT}/${page}.1)
endforeach()
configure_file(${PACKAGING_DIR}/changelog ${PACKAGING_OUT}/changelog @ONLY)
list(APPEND COMPRESSED_DOCS ${PACKAGING_OUT}/changelog)
set(COMPRESSED_OUTPUTS)
foreach(doc ${COMPRESSED_DOCS})
  add_custom_command(OUTPUT ${doc}.gz
                     COMMAND ${GZIP_PROGRAM} -9nc ${doc} > ${doc}.gz
                     DEPENDS ${doc}
                     COMMENT "Compressing ${doc}")
  list(APPEND COMPRESSED_OUTPUTS ${doc}.gz)
endforeach()
add_custom_target(cnc_docs ALL DEPENDS ${COMPRESSED_OUTPUTS})
foreach(page ${MAN_PAGES})
  install(FILES ${PACKAGING_OUT}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The programs the metadata names: those with a manual page.
set(METAINFO_BINARIES "")
foreach(page ${MAN_PAGES})
  string(APPEND METAINFO_BINARIES "    <binary>${page}</binary>\n")
endforeach()
configure_file(${PACKAGING_DIR}/${CNC_METAINFO_ID}.metainfo.xml.in
               ${PACKAGING_OUT}/${CNC_METAINFO_ID}.metainfo.xml @ONLY)
install(FILES ${PACKAGING_OUT}/${CNC_METAINFO_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${PACKAGING_DIR}/cncmirel.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/assets/icon/cncmirel.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/assets/icon/cncmirel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
          RENAME cncmirel.png)
endforeach()
install(FILES ${PACKAGING_DIR}/copyright ${PACKAGING_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The README's first jobs, so that they work from the package alone.
install(FILES ${PROJECT_SOURCE_DIR}/doc/first-job/board.drl
        ${PROJECT_SOURCE_DIR}/doc/first-job/outline.plt
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# Everything installed and nothing else: `./mirel.sh run` and `./mirel.sh package` build only
# this (cpack builds nothing itself).
add_custom_target(cnc_installed)
add_dependencies(cnc_installed cnc_docs)
foreach(program cncmirel cncmirel-sim cncmirel-prep)
  if(TARGET ${program})
    add_dependencies(cnc_installed ${program})
  endif()
endforeach()

# The Debian package: `cpack` in the build folder (./mirel.sh package) writes
# cncmirel_VERSION_ARCH.deb there.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cncmirel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CNC_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "controller for a parallel-port PCB drilling machine")
# CPack puts the summary first and indents each line; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "CNC Mirel controls a small three-axis machine that drills and mills printed
circuit boards. It drives the three stepper motors straight from the PC's
parallel port, loads drilling and milling jobs, shows them on a map of the
table, jogs, goes to a position, and runs, pauses and stops jobs.

The package also holds cncmirel-sim, which runs a job headless on a simulated
port and prints every step, so a job file can be checked before it reaches
the machine.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The panel's first font choice, whose narrow face lines its labels up best, and Qt's own
# translations, which put the file dialog's buttons and labels in the desktop's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
