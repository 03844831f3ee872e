# The .deb: what Debian's tools expect beside the programs (copyright, changelog, man
# pages, AppStream metainfo) and the package's control fields. Included from the top
# CMakeLists.txt after the install rules of the programs.

# Documentation a package carries compressed, without time stamps (gzip -n), so that
# two builds give the same bytes.
set(packaging_dir ${PROJECT_BINARY_DIR}/packaging)
set(compressed)
foreach(source docs/man/vantrel.1 docs/man/vantrel-cli.1 data/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${packaging_dir}/${name}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_dir}
                     COMMAND sh -c "gzip -9nc '${PROJECT_SOURCE_DIR}/${source}' > '${output}'"
                     DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${compressed})

install(FILES ${packaging_dir}/vantrel.1.gz ${packaging_dir}/vantrel-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/copyright ${packaging_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantrel)
install(FILES data/vantrel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME org.vantrel.Vantrel.metainfo.xml)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT "Vantrel maintainers <maintainers@users.noreply.c-seed-25fcb63c.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Colour-graded 10-bit HEVC copies of videos through a 3D LUT")
# The summary above is the synopsis; this is the extended text below it.
set(CPACK_PACKAGE_DESCRIPTION
  "Vantrel turns a video into a colour-graded, 10-bit HEVC copy. Given a job
file carrying a .cube 3D LUT and a video, it decodes every frame, grades it
through the LUT and encodes HEVC Main 10 with Rec. 709 tags into a QuickTime
or MPEG-4 file that common players open.

This package holds the window (vantrel), which takes files by drag and drop,
and the command line (vantrel-cli), which grades one clip or whole folders.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library check finds them: the window needs a platform
# plugin to start and the SVG plugins (in libqt6svg6) to show its icon.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_STRIP_FILES ON)
include(CPack)
