# The Windows modules: Velkorix.ax (the filter host over real DirectShow/COM,
# the codec layers, a module-definition file naming the exports and the
# version resource) and VelkorixSource.ax (the stream source filter); plus
# the test programs that run under wine.

enable_language(RC)
add_compile_definitions(NOMINMAX)

# Link everything statically: the module needs only Windows system DLLs.
set(VELKORIX_STATIC_LINK -static -static-libgcc -static-libstdc++)
set(VELKORIX_WINDOWS_LIBS ole32 oleaut32 uuid strmiids advapi32 user32 comctl32)

# The platform layer is the real one here: it links the system's libraries.
target_link_libraries(velkorix_platform PUBLIC ${VELKORIX_WINDOWS_LIBS})

# The exports: the COM entry points and the voice library's functions.
set(VELKORIX_EXPORTS DllMain DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer
  QX_VOICE_GetVersion QX_VOICE_EncReset QX_VOICE_DecReset QX_VOICE_EncodeFrame
  QX_VOICE_DecodeFrame QX_VOICE_TransCodeReset QX_VOICE_TransCodeFrame)
set(VELKORIX_DEF_TEXT "LIBRARY \"Velkorix.ax\"\nEXPORTS\n")
foreach(name ${VELKORIX_EXPORTS})
  string(APPEND VELKORIX_DEF_TEXT "    ${name}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/Velkorix.def.tmp "${VELKORIX_DEF_TEXT}")
configure_file(${CMAKE_BINARY_DIR}/Velkorix.def.tmp ${CMAKE_BINARY_DIR}/Velkorix.def COPYONLY)
set(VELKORIX_EXPORT_LIST "${VELKORIX_EXPORTS}" CACHE INTERNAL "Names Velkorix.ax exports")

add_library(Velkorix SHARED
  ${CMAKE_SOURCE_DIR}/src/platform/win32/velkorix.rc
  ${CMAKE_SOURCE_DIR}/src/filter/level_page.rc
  ${CMAKE_BINARY_DIR}/Velkorix.def)
set_target_properties(Velkorix PROPERTIES PREFIX "" SUFFIX ".ax" OUTPUT_NAME "Velkorix")
# The module's code comes from the filter library as a whole (the COM entry
# points are reached only through the exports) and from the layers below it;
# the voice library's exports are resolved from its archive by name.
target_link_libraries(Velkorix PRIVATE
  -Wl,--whole-archive velkorix_filter -Wl,--no-whole-archive
  velkorix_platform ${VELKORIX_CODEC_LAYERS} ${VELKORIX_WINDOWS_LIBS})
# 32-bit stdcall entry points are decorated (DllGetClassObject@12): the .def
# names them undecorated and the linker matches them up.
target_link_options(Velkorix PRIVATE ${VELKORIX_STATIC_LINK} -Wl,--enable-stdcall-fixup $<$<CONFIG:Release>:-s>)

# The stream source module VelkorixSource.ax: the source filter for framed
# stream files and its registration (class, the .vks file type, the filter
# mapper). It carries no codec: the Velkorix Decoder decodes what it delivers.
set(VELKORIX_SOURCE_EXPORTS DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer)
set(VELKORIX_SOURCE_DEF_TEXT "LIBRARY \"VelkorixSource.ax\"\nEXPORTS\n")
foreach(name ${VELKORIX_SOURCE_EXPORTS})
  string(APPEND VELKORIX_SOURCE_DEF_TEXT "    ${name}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/VelkorixSource.def.tmp "${VELKORIX_SOURCE_DEF_TEXT}")
configure_file(${CMAKE_BINARY_DIR}/VelkorixSource.def.tmp ${CMAKE_BINARY_DIR}/VelkorixSource.def COPYONLY)

add_library(VelkorixSource SHARED
  ${CMAKE_SOURCE_DIR}/src/source_filter/velkorix_source.rc
  ${CMAKE_BINARY_DIR}/VelkorixSource.def)
set_target_properties(VelkorixSource PROPERTIES PREFIX "" SUFFIX ".ax" OUTPUT_NAME "VelkorixSource")
target_link_libraries(VelkorixSource PRIVATE
  -Wl,--whole-archive velkorix_source_filter -Wl,--no-whole-archive
  velkorix_source velkorix_filter velkorix_platform velkorix_stream velkorix_common ${VELKORIX_WINDOWS_LIBS})
target_link_options(VelkorixSource PRIVATE ${VELKORIX_STATIC_LINK} -Wl,--enable-stdcall-fixup $<$<CONFIG:Release>:-s>)

# The checks that run under wine: one program, wine_checks.exe, whose commands
# are the tests/win/*_test.cpp units (see tests/win/harness.h), so that one
# wine process can run several checks.
file(GLOB VELKORIX_WIN_CHECK_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
add_executable(wine_checks ${VELKORIX_WIN_CHECK_SOURCES})
target_include_directories(wine_checks PRIVATE
  ${CMAKE_SOURCE_DIR}/tests/win ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/include
  ${CMAKE_SOURCE_DIR}/src/platform/win32)
target_link_libraries(wine_checks PRIVATE ${VELKORIX_WINDOWS_LIBS} version)
target_link_options(wine_checks PRIVATE ${VELKORIX_STATIC_LINK})
add_dependencies(wine_checks Velkorix VelkorixSource)
