# Checks that every file under src/ includes only its own layer and the
# layers its layer declares (cmake/layers.cmake writes the declarations to
# the table this script reads). Run by the layer_includes test:
#
#   cmake -DSOURCE_DIR=<tree> -DLAYER_TABLE=<build>/layers/table.cmake -P check_layers.cmake
#
# An include names its layer by its first folder ("voice/g726.h"), by a
# public header of include/ ("velkorix/qx_voice.h" belongs to the layer that
# declares it), or, for a bare file name, by where it is found: beside the
# including file (its own layer) or in a folder a layer exposes by name
# (the platform's "platform.h"). An include that names no layer is reported
# too, so that a new way of including cannot slip past.

cmake_minimum_required(VERSION 3.20)

if(NOT SOURCE_DIR OR NOT LAYER_TABLE)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<tree> -DLAYER_TABLE=<table.cmake> -P check_layers.cmake")
endif()
include(${LAYER_TABLE})

# Which layer a public header or an exposed folder belongs to.
set(owner_of_velkorix/velkorix_export.h common)
set(exposed_folders "")
foreach(layer ${VELKORIX_LAYERS})
  foreach(header ${VELKORIX_LAYER_HEADERS_${layer}})
    set(owner_of_${header} ${layer})
  endforeach()
  foreach(folder ${VELKORIX_LAYER_FOLDERS_${layer}})
    list(APPEND exposed_folders ${folder})
    set(owner_of_folder_${folder} ${layer})
  endforeach()
endforeach()
# Folders a build does not compile (the other platform's) still belong to
# their layer for this check.
file(GLOB platform_folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/platform/*)
foreach(folder ${platform_folders})
  if(IS_DIRECTORY ${SOURCE_DIR}/${folder} AND NOT DEFINED owner_of_folder_${folder})
    list(APPEND exposed_folders ${folder})
    set(owner_of_folder_${folder} platform)
  endif()
endforeach()

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.rc)
list(SORT files)
set(problems 0)
set(checked 0)
foreach(file ${files})
  set(layer "")
  if(file MATCHES "^src/([^/]+)/")
    set(layer ${CMAKE_MATCH_1})
  endif()
  if(NOT layer IN_LIST VELKORIX_LAYERS)
    message(SEND_ERROR "${file}: src/${layer} is not a layer of the build")
    math(EXPR problems "${problems} + 1")
    continue()
  endif()
  set(allowed ${layer} ${VELKORIX_LAYER_USES_${layer}})
  get_filename_component(dir ${file} DIRECTORY)

  file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line ${lines})
    if(NOT line MATCHES "#[ \t]*include[ \t]*([\"<])([^\">]+)[\">]")
      continue()
    endif()
    set(quote ${CMAKE_MATCH_1})
    set(path ${CMAKE_MATCH_2})
    set(first "")
    if(path MATCHES "^([^/]+)/")
      set(first ${CMAKE_MATCH_1})
    endif()
    set(target "")
    if(first STREQUAL "velkorix")
      if(DEFINED owner_of_${path})
        set(target ${owner_of_${path}})
      endif()
    elseif(first IN_LIST VELKORIX_LAYERS)
      set(target ${first})
    elseif(quote STREQUAL "\"")
      if(EXISTS ${SOURCE_DIR}/${dir}/${path})
        set(target ${layer})
      else()
        foreach(folder ${exposed_folders})
          if(EXISTS ${SOURCE_DIR}/${folder}/${path})
            set(target ${owner_of_folder_${folder}})
            break()
          endif()
        endforeach()
      endif()
    else()
      continue()  # <...>: a system or standard header
    endif()
    math(EXPR checked "${checked} + 1")
    if(target STREQUAL "")
      message(SEND_ERROR "${file}: cannot tell which layer \"${path}\" belongs to")
      math(EXPR problems "${problems} + 1")
    elseif(NOT target IN_LIST allowed)
      message(SEND_ERROR "${file}: layer ${layer} includes \"${path}\" of layer ${target}; "
                         "it may include: ${allowed}")
      math(EXPR problems "${problems} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH files count)
if(problems GREATER 0)
  message(FATAL_ERROR "${problems} include(s) against the layering in ${count} files")
endif()
message(STATUS "layer includes: ${count} files, ${checked} includes, all within their layers")
