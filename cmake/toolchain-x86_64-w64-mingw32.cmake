# Cross build for 64-bit Windows with mingw-w64. The posix-thread variant of the
# compilers provides std::mutex and std::thread; everything is linked
# statically so the module needs only Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELKORIX_MINGW_TRIPLE x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${VELKORIX_MINGW_TRIPLE}-gcc-posix ${VELKORIX_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VELKORIX_MINGW_TRIPLE}-g++-posix ${VELKORIX_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VELKORIX_MINGW_TRIPLE}-windres REQUIRED)
find_program(VELKORIX_OBJDUMP NAMES ${VELKORIX_MINGW_TRIPLE}-objdump objdump)

# Float arithmetic never contracted into fused multiply-adds, so the decoders
# (G.729) round exactly as the 32-bit and Linux builds do.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")

set(CMAKE_FIND_ROOT_PATH /usr/${VELKORIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
