# SPDX-License-Identifier: MIT
# Installation and packages.
#
# On Linux the programs, the gzipped manual pages (ebrilo-sim has the same
# page), the README with the reference (doc/) and the interface circuits
# beside it, and the Debian copyright file and changelog go where
# GNUInstallDirs puts them, so that --prefix and DESTDIR behave as packagers
# expect; CPack turns that tree into a Debian package.
#
# On Windows everything goes into one folder: both programs, the README, the
# licence, the manual rendered as plain text, the reference's folder and the
# circuits' folder. CPack zips that folder under the package's name and
# version.
include(GNUInstallDirs)

set(EBRILO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(EBRILO_PACKAGING_BINARY_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${EBRILO_PACKAGING_BINARY_DIR})

if(WIN32)
  set(EBRILO_PROGRAM_DIR .)
else()
  set(EBRILO_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS ebrilo RUNTIME DESTINATION ${EBRILO_PROGRAM_DIR})
if(TARGET ebrilo-sim)
  install(TARGETS ebrilo-sim RUNTIME DESTINATION ${EBRILO_PROGRAM_DIR})
endif()

# The interface circuits, for whoever builds one: each design's SPICE
# subcircuit, its schematic and its picture, in a folder hardware/ beside
# the README, whose links to the pictures then hold where it is installed.
set(EBRILO_HARDWARE_FILES)
foreach(design IN ITEMS rs232 ttl)
  foreach(kind IN ITEMS cir sch svg)
    list(APPEND EBRILO_HARDWARE_FILES ${PROJECT_SOURCE_DIR}/hardware/${design}.${kind})
  endforeach()
endforeach()
if(WIN32)
  set(EBRILO_DOC_DIR .)
else()
  set(EBRILO_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${EBRILO_HARDWARE_FILES} DESTINATION ${EBRILO_DOC_DIR}/hardware)

# The reference the README links to, in a folder doc/ beside it as in the
# sources, so that the links between them hold where they are installed.
# The manual page there is installed as a manual page, not as a document.
file(GLOB EBRILO_REFERENCE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/doc/*.md)
install(FILES ${EBRILO_REFERENCE_FILES} DESTINATION ${EBRILO_DOC_DIR}/doc)

if(WIN32)
  # groff runs on the build machine: the Windows programs are cross-built.
  # Plain UTF-8 text, which keeps the I²C, without the terminal's bold and
  # underlining, and with whole words, which a text search finds.
  find_program(EBRILO_GROFF groff REQUIRED)
  set(EBRILO_MANUAL_TEXT ${EBRILO_PACKAGING_BINARY_DIR}/MANUAL.txt)
  add_custom_command(
    OUTPUT ${EBRILO_MANUAL_TEXT}
    COMMAND ${EBRILO_GROFF} -t -man -Tutf8 -P-cbou -rHY=0 ${PROJECT_SOURCE_DIR}/doc/ebrilo.1 >
            ${EBRILO_MANUAL_TEXT}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/ebrilo.1
    VERBATIM)
  add_custom_target(ebrilo_manual_text ALL DEPENDS ${EBRILO_MANUAL_TEXT})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${EBRILO_MANUAL_TEXT} DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  # Debian wants manual pages and changelogs compressed with gzip -9n: the
  # highest level, and neither the file's name nor its time in the header,
  # so that the same sources always give the same package.
  find_program(EBRILO_GZIP gzip REQUIRED)
  file(WRITE ${EBRILO_PACKAGING_BINARY_DIR}/ebrilo-sim.1 ".so man1/ebrilo.1\n")
  set(EBRILO_GZIPPED)
  foreach(source IN ITEMS ${PROJECT_SOURCE_DIR}/doc/ebrilo.1
                          ${EBRILO_PACKAGING_BINARY_DIR}/ebrilo-sim.1 ${EBRILO_PACKAGING_DIR}/changelog)
    cmake_path(GET source FILENAME name)
    set(gzipped ${EBRILO_PACKAGING_BINARY_DIR}/${name}.gz)
    add_custom_command(
      OUTPUT ${gzipped}
      COMMAND ${EBRILO_GZIP} -9n -c ${source} > ${gzipped}
      DEPENDS ${source}
      VERBATIM)
    list(APPEND EBRILO_GZIPPED ${gzipped})
  endforeach()
  add_custom_target(ebrilo_gzipped_docs ALL DEPENDS ${EBRILO_GZIPPED})
  install(FILES ${EBRILO_PACKAGING_BINARY_DIR}/ebrilo.1.gz ${EBRILO_PACKAGING_BINARY_DIR}/ebrilo-sim.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${EBRILO_PACKAGING_DIR}/copyright ${EBRILO_PACKAGING_BINARY_DIR}/changelog.gz
                ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The rule that lets the logged-in user open the CH341A programmer. udev
  # reads the rules of packages from lib/udev/rules.d under /usr, whatever
  # the library folder is called. Its name is not the 70-ebrilo.rules that
  # doc/serial-port.md suggests for keeping ModemManager off a serial
  # adapter: a file in /etc/udev/rules.d hides the package's file of the
  # same name.
  install(FILES ${EBRILO_PACKAGING_DIR}/70-ebrilo-ch341a.rules DESTINATION lib/udev/rules.d)
endif()

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "program 24RF08 serial EEPROMs through the modem lines of a serial port")
set(CPACK_PACKAGE_CONTACT "The ebrilo developers <ebrilo-bugs@example.org>")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
  # Read here rather than named as CPack's description file, whose text CPack
  # would escape for XML (an apostrophe would reach the package as &apos;).
  file(READ ${EBRILO_PACKAGING_DIR}/description.txt CPACK_DEBIAN_PACKAGE_DESCRIPTION)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${EBRILO_PACKAGING_DIR}/description.txt)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
