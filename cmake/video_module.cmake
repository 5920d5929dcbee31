# The video module, libvelkorix-video.so: the decoders of the codec slot's
# video types 0 (MPEG-4 part 2), 1 and 16 (H.264) over libavcodec. It is a
# module beside libvelkorix.so, not part of it: the codec slot loads it with
# dlopen on the first creation of such a decoder (src/codec_slot/
# video_module_loader.h) and reaches it through one table
# (src/codec_slot/video_module_interface.h). So nothing that decodes audio
# needs libavcodec, neither to build nor to run; where the module or
# libavcodec is missing, creating a video decoder fails and the slot holds no
# instance.
#
# Built on Linux when libavcodec's development files are found (option
# VELKORIX_VIDEO_MODULE). Layer `video` (src/video/) is its code; without
# libavcodec it is declared with no sources, so the include check still reads
# its files.
include(GNUInstallDirs)
option(VELKORIX_VIDEO_MODULE "Build the video module libvelkorix-video.so when libavcodec is found" ON)

set(VELKORIX_VIDEO_MODULE_BUILT OFF)
if(NOT WIN32 AND VELKORIX_VIDEO_MODULE)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(VIDEO_AVCODEC QUIET IMPORTED_TARGET libavcodec libavutil)
  endif()
  if(VIDEO_AVCODEC_FOUND)
    set(VELKORIX_VIDEO_MODULE_BUILT ON)
  else()
    message(STATUS "libavcodec not found: no video module (codec types 0, 1 and 16 cannot be created)")
  endif()
endif()

if(NOT WIN32)
  # Where the loader looks besides its own directory: the installed library
  # directory as seen from the installed program directory, so that an
  # installed `velkorix` (bin/) finds the module in lib/.
  file(RELATIVE_PATH VELKORIX_VIDEO_MODULE_SIBLING_DIR
    "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
  target_compile_definitions(velkorix_codec_slot PRIVATE
    VELKORIX_VIDEO_MODULE_LOADER=1
    VELKORIX_VIDEO_MODULE_SIBLING_DIR="${VELKORIX_VIDEO_MODULE_SIBLING_DIR}")
  target_link_libraries(velkorix_codec_slot PUBLIC ${CMAKE_DL_LIBS})
endif()

if(VELKORIX_VIDEO_MODULE_BUILT)
  velkorix_layer(video
    SOURCES
      src/video/module_entry.cpp
      src/video/video_decoder.cpp
    USES codec_slot)
  target_link_libraries(velkorix_video PRIVATE PkgConfig::VIDEO_AVCODEC)

  # The module is made of the layer's objects only (the slot's interface
  # header is all it takes from codec_slot) and exports its entry alone.
  add_library(velkorix_video_module MODULE $<TARGET_OBJECTS:velkorix_video>)
  set_target_properties(velkorix_video_module PROPERTIES
    OUTPUT_NAME velkorix-video
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/velkorix-video.map)
  target_link_libraries(velkorix_video_module PRIVATE PkgConfig::VIDEO_AVCODEC)
  target_link_options(velkorix_video_module PRIVATE
    "LINKER:--version-script=${CMAKE_SOURCE_DIR}/cmake/velkorix-video.map")
  # clang's sanitizer and fuzzer runtimes live in the program, not in the
  # module, so their symbols are left for the program to supply there.
  if(NOT VELKORIX_FUZZ)
    target_link_options(velkorix_video_module PRIVATE "LINKER:--no-undefined")
  endif()
  install(TARGETS velkorix_video_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)
else()
  velkorix_layer(video USES codec_slot)
endif()
