# The layers, checked two ways:
# - layers.includes: every file under src/<layer> includes only headers of its own layer
#   and of the layers it may use (the table below, as docs/architecture.md draws it);
# - layers.headers: no header above media includes an FFmpeg header or names an FFmpeg
#   type, directly or through another header. Each header of imaging, exporter, cli and
#   app is compiled alone, with FFmpeg's type names poisoned and, ahead of FFmpeg's own
#   folder, a stub for every FFmpeg header that stops the compilation.

set(VANTREL_LAYER_RULES
  "core:core"
  "media:core,media"
  "imaging:core,media,imaging"
  "exporter:core,media,imaging,exporter"
  "cli:core,exporter,cli"
  "app:core,exporter,app")
add_test(NAME layers.includes
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                 "-DRULES=${VANTREL_LAYER_RULES}" -P ${CMAKE_CURRENT_LIST_DIR}/check_includes.cmake)

find_path(VANTREL_FFMPEG_INCLUDE_DIR libavcodec/avcodec.h HINTS ${FFMPEG_INCLUDE_DIRS} REQUIRED)
set(stubs ${CMAKE_CURRENT_BINARY_DIR}/ffmpeg-stubs)
file(GLOB_RECURSE ffmpeg_headers RELATIVE ${VANTREL_FFMPEG_INCLUDE_DIR}
     ${VANTREL_FFMPEG_INCLUDE_DIR}/libav*/*.h ${VANTREL_FFMPEG_INCLUDE_DIR}/libsw*/*.h
     ${VANTREL_FFMPEG_INCLUDE_DIR}/libpostproc/*.h)
foreach(header IN LISTS ffmpeg_headers)
  if(NOT EXISTS ${stubs}/${header})
    file(WRITE ${stubs}/${header} "#error \"${header} is an FFmpeg header: only src/media may use it\"\n")
  endif()
endforeach()

set(header_check_targets)
foreach(layer imaging exporter cli app)
  if(NOT TARGET vantrel_${layer}) # the window is built only where Qt is found
    continue()
  endif()
  file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR}/src CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/src/${layer}/*.hpp)
  set(units)
  foreach(header IN LISTS headers)
    string(REPLACE "/" "_" unit ${header})
    set(unit ${CMAKE_CURRENT_BINARY_DIR}/headers/${unit}.cpp)
    file(CONFIGURE OUTPUT ${unit} CONTENT "#include \"${header}\"\n")
    list(APPEND units ${unit})
  endforeach()
  add_library(header_check_${layer} OBJECT EXCLUDE_FROM_ALL ${units})
  target_include_directories(header_check_${layer} BEFORE PRIVATE ${stubs}
                             ${PROJECT_BINARY_DIR}/layers/vantrel_${layer})
  target_link_libraries(header_check_${layer} PRIVATE vantrel_${layer})
  target_compile_options(header_check_${layer} PRIVATE
                         -include ${CMAKE_CURRENT_LIST_DIR}/poison_ffmpeg.hpp)
  list(APPEND header_check_targets header_check_${layer})
endforeach()
add_test(NAME layers.headers
         COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target ${header_check_targets})
set_tests_properties(layers.headers PROPERTIES TIMEOUT 600)
