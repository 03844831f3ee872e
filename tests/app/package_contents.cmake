# Builds the .deb from the finished build tree and checks what it would install: both
# programs, the desktop entry, the icon and the .cube type, nothing else, and the
# libraries it depends on, as dpkg-shlibdeps found them.

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
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
set(files)
foreach(entry IN LISTS entries)
  if(NOT entry MATCHES "/$")
    list(APPEND files ${entry})
  endif()
endforeach()
list(SORT files)
set(expected
  ./usr/bin/vantrel
  ./usr/bin/vantrel-cli
  ./usr/share/applications/vantrel.desktop
  ./usr/share/icons/hicolor/scalable/apps/vantrel.svg
  ./usr/share/mime/packages/vantrel.xml)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "package files:\n  ${files}\nexpected:\n  ${expected}")
endif()

execute_process(COMMAND dpkg-deb -f ${debs} Depends OUTPUT_VARIABLE depends)
foreach(library libqt6widgets6 libqt6dbus6 libavcodec libavformat libc6)
  if(NOT depends MATCHES "${library}")
    message(FATAL_ERROR "Depends lacks ${library}: ${depends}")
  endif()
endforeach()

find_program(validate desktop-file-validate)
if(validate)
  execute_process(COMMAND ${validate} ${SOURCE_DIR}/data/vantrel.desktop
                  RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT rc EQUAL 0 OR NOT log STREQUAL "")
    message(FATAL_ERROR "desktop entry:\n${log}")
  endif()
endif()
file(REMOVE_RECURSE ${out})
message(STATUS "package ok: ${files}")
