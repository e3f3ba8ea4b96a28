# The Debian package, built by `make package` (CPack's DEB generator) from the
# install rules: the two programs, the desktop entry, the icons and the
# metainfo come from their folders; this file adds what only an installed
# copy needs (manual pages, copyright, changelog, lintian's overrides) and the
# package's fields.

set(packaging_source ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_build ${PROJECT_BINARY_DIR}/packaging)
# GNUInstallDirs would name the folder after the project, "Harmolune"; Debian
# names it after the package.
set(package_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/harmolune)

# The release date in the two forms the manual pages and the changelog use.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -d ${HARMOLUNE_RELEASE_DATE} "+%B %Y"
  OUTPUT_VARIABLE HARMOLUNE_RELEASE_MONTH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -d "${HARMOLUNE_RELEASE_DATE} 12:00" -R
  OUTPUT_VARIABLE HARMOLUNE_RELEASE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# Manual pages and changelog, compressed as Debian ships them: gzip -9, with
# no name or time stamp inside, so that the same sources give the same bytes.
set(compressed_docs)
foreach(file harmolune.1 harmolune-measure.1 changelog)
  configure_file(${packaging_source}/${file}.in ${packaging_build}/${file} @ONLY)
  add_custom_command(OUTPUT ${packaging_build}/${file}.gz
    COMMAND gzip -9nkf ${packaging_build}/${file}
    DEPENDS ${packaging_build}/${file}
    VERBATIM)
  list(APPEND compressed_docs ${packaging_build}/${file}.gz)
endforeach()
add_custom_target(package-docs ALL DEPENDS ${compressed_docs})

install(FILES ${packaging_build}/harmolune.1.gz ${packaging_build}/harmolune-measure.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_source}/copyright ${packaging_build}/changelog.gz
  DESTINATION ${package_doc_dir})

# A stripped install (cmake --install --strip, and the package) also drops the
# compiler's version strings, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program harmolune harmolune-measure)
      set(path \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
      if(EXISTS \"\${path}\")
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
          --remove-section=.note \"\${path}\" COMMAND_ERROR_IS_FATAL ANY)
      endif()
    endforeach()
  endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harmolune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Harmolune maintainers")
set(CPACK_PACKAGE_CONTACT "Harmolune maintainers <maintainers@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://example.org/harmolune)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tuner for pianos and guitars, by ear or by measurement")
# Read here rather than through CPACK_PACKAGE_DESCRIPTION_FILE, which CPack
# escapes for XML.
file(READ ${packaging_source}/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders made by the install step are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the libraries the programs link; the SoundFont of the
# reference tone is a file opened at run time, which it cannot see. Either
# package provides /usr/share/sounds/sf2/default-GM.sf2.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "timgm6mb-soundfont | fluid-soundfont-gm")
# The reference tone and the capture go through the sound server; without one
# the window still shows its notes, silent and without measurement.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
