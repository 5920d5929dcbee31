# libvelkorix.so: the codec layers (the voice library, the codec slot with the
# decoders behind it, and what they share) as a shared library with a C
# interface.
# Only the QX_VOICE_ functions and the codec-slot API are exported: the code is
# compiled with hidden visibility and the version script names the exports.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VELKORIX_SOVERSION 1)

set(VELKORIX_SHARED_OBJECTS "")
foreach(layer ${VELKORIX_CODEC_LAYERS})
  list(APPEND VELKORIX_SHARED_OBJECTS $<TARGET_OBJECTS:${layer}>)
endforeach()
add_library(velkorix_shared SHARED ${VELKORIX_SHARED_OBJECTS})
set_target_properties(velkorix_shared PROPERTIES
  OUTPUT_NAME velkorix
  EXPORT_NAME velkorix
  VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
  SOVERSION ${VELKORIX_SOVERSION}
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/velkorix.map)
target_link_options(velkorix_shared PRIVATE
  "LINKER:--version-script=${CMAKE_SOURCE_DIR}/cmake/velkorix.map"
  "LINKER:--no-undefined")
find_package(Threads REQUIRED)
# dlopen: the codec slot loads the video module on demand.
target_link_libraries(velkorix_shared PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
target_include_directories(velkorix_shared INTERFACE
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
add_library(Velkorix::velkorix ALIAS velkorix_shared)

install(TARGETS velkorix_shared EXPORT VelkorixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES
    ${CMAKE_SOURCE_DIR}/include/velkorix/qx_voice.h
    ${CMAKE_SOURCE_DIR}/include/velkorix/qx_voice_names.h
    ${CMAKE_SOURCE_DIR}/include/velkorix/codec_slot.h
    ${CMAKE_SOURCE_DIR}/include/velkorix/velkorix_export.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velkorix COMPONENT development)

# pkg-config: the prefix is found from the file's own location, so the
# installed tree can be moved (or installed with --prefix) as a whole.
file(RELATIVE_PATH VELKORIX_PC_TO_PREFIX
  "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" VELKORIX_PC_TO_PREFIX "${VELKORIX_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/velkorix.pc.in ${CMAKE_BINARY_DIR}/velkorix.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/velkorix.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# CMake package: find_package(Velkorix) gives the target Velkorix::velkorix.
set(VELKORIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Velkorix)
install(EXPORT VelkorixTargets NAMESPACE Velkorix:: DESTINATION ${VELKORIX_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VelkorixConfig.cmake.in
  ${CMAKE_BINARY_DIR}/VelkorixConfig.cmake INSTALL_DESTINATION ${VELKORIX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VelkorixConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VelkorixConfig.cmake ${CMAKE_BINARY_DIR}/VelkorixConfigVersion.cmake
  DESTINATION ${VELKORIX_CMAKE_DIR} COMPONENT development)
