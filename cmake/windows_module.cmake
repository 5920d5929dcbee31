# The Windows module Velkorix.ax: the filter host over real DirectShow/COM,
# the codec layers, a module-definition file naming the exports and the
# version resource; plus the test programs that run under wine.

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

# Test programs run under wine: every tests/win/*_test.cpp is one program;
# the other sources there are shared by all of them.
file(GLOB VELKORIX_WIN_TEST_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
file(GLOB VELKORIX_WIN_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
list(REMOVE_ITEM VELKORIX_WIN_TEST_SUPPORT ${VELKORIX_WIN_TEST_PROGRAMS})
if(VELKORIX_WIN_TEST_SUPPORT)
  add_library(velkorix_win_test_support STATIC ${VELKORIX_WIN_TEST_SUPPORT})
  target_include_directories(velkorix_win_test_support PUBLIC
    ${CMAKE_SOURCE_DIR}/tests/win ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/include
    ${CMAKE_SOURCE_DIR}/src/platform/win32)
  target_link_libraries(velkorix_win_test_support PUBLIC ${VELKORIX_WINDOWS_LIBS} version)
endif()
foreach(source ${VELKORIX_WIN_TEST_PROGRAMS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_include_directories(${name} PRIVATE
    ${CMAKE_SOURCE_DIR}/tests/win ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/include
    ${CMAKE_SOURCE_DIR}/src/platform/win32)
  if(TARGET velkorix_win_test_support)
    target_link_libraries(${name} PRIVATE velkorix_win_test_support)
  endif()
  target_link_libraries(${name} PRIVATE ${VELKORIX_WINDOWS_LIBS} version)
  target_link_options(${name} PRIVATE ${VELKORIX_STATIC_LINK})
  add_dependencies(${name} Velkorix)
endforeach()
