# Builds the .deb from the finished build tree and checks what it would install: both
# programs, their man pages, the desktop entry, the icon, the .cube type, the metainfo
# and Debian's documents, nothing else; the libraries it depends on, as dpkg-shlibdeps
# found them, and the plugins the window loads; and lintian's and appstream's verdicts.

get_filename_component(cmake_dir ${CMAKE_COMMAND} DIRECTORY)
set(out ${BINARY_DIR}/package-test)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND ${cmake_dir}/cpack -G DEB -B ${out} --config ${BINARY_DIR}/CPackConfig.cmake
                RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()
file(GLOB debs ${out}/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package, found: ${debs}")
endif()

execute_process(COMMAND dpkg-deb --fsys-tarfile ${debs} COMMAND tar -t
                OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot list ${debs}")
endif()
string(REPLACE "\n" ";" files "${listing}")
list(FILTER files EXCLUDE REGEX "/$|^$") # folders, and the end of the last line
list(SORT files)
set(expected bin/vantrel bin/vantrel-cli share/applications/vantrel.desktop
    share/doc/vantrel/changelog.gz share/doc/vantrel/copyright
    share/icons/hicolor/scalable/apps/vantrel.svg share/man/man1/vantrel-cli.1.gz
    share/man/man1/vantrel.1.gz share/metainfo/org.vantrel.Vantrel.metainfo.xml
    share/mime/packages/vantrel.xml)
list(TRANSFORM expected PREPEND ./usr/)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "package files:\n  ${files}\nexpected:\n  ${expected}")
endif()

execute_process(COMMAND dpkg-deb -f ${debs} Depends OUTPUT_VARIABLE depends)
foreach(library libqt6widgets6 libqt6dbus6 libavcodec libavformat libc6 qt6-qpa-plugins libqt6svg6)
  if(NOT depends MATCHES "${library}")
    message(FATAL_ERROR "Depends lacks ${library}: ${depends}")
  endif()
endforeach()

find_program(validate desktop-file-validate)
find_program(appstreamcli appstreamcli)
find_program(lintian lintian)
foreach(check IN ITEMS "${validate};${SOURCE_DIR}/data/vantrel.desktop"
        "${appstreamcli};validate;--no-net;${SOURCE_DIR}/data/vantrel.metainfo.xml"
        "${lintian};--fail-on;error;${debs}")
  list(GET check 0 program)
  if(program) # each only where installed; the desktop entry's check must also say nothing
    execute_process(COMMAND ${check} RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
    if(NOT rc EQUAL 0 OR (program STREQUAL validate AND NOT log STREQUAL ""))
      message(FATAL_ERROR "${check}:\n${log}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE ${out})
message(STATUS "package ok: ${files}")
