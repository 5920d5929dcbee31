# Cross build for 32-bit Windows with mingw-w64. The posix-thread variant of the
# compilers provides std::mutex and std::thread; everything is linked
# statically so the module needs only Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELKORIX_MINGW_TRIPLE i686-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${VELKORIX_MINGW_TRIPLE}-gcc-posix ${VELKORIX_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VELKORIX_MINGW_TRIPLE}-g++-posix ${VELKORIX_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VELKORIX_MINGW_TRIPLE}-windres REQUIRED)
find_program(VELKORIX_OBJDUMP NAMES ${VELKORIX_MINGW_TRIPLE}-objdump objdump)

# Floating point in SSE2 registers, as on x86-64, and never contracted into
# fused multiply-adds: the decoders' float arithmetic (G.729) then rounds
# exactly as the 64-bit and Linux builds do, and the SIMD helpers have their
# vector registers. Windows guarantees only 4-byte stack alignment at entry, so
# functions realign their frames.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign -ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign -ffp-contract=off")

set(CMAKE_FIND_ROOT_PATH /usr/${VELKORIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
