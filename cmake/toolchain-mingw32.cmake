# Cross toolchain of the win32 target: 32-bit Windows through mingw-w64 (i686-w64-mingw32).
# The posix thread flavour of the compiler is preferred so that the C++ thread library is
# complete; everything of the runtime is linked statically into each DLL and executable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TOVREL_MINGW_TRIPLET i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TOVREL_MINGW_TRIPLET}-gcc-posix ${TOVREL_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TOVREL_MINGW_TRIPLET}-g++-posix ${TOVREL_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TOVREL_MINGW_TRIPLET}-windres REQUIRED)
find_program(TOVREL_OBJDUMP NAMES ${TOVREL_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVREL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows XP and later: the API level of the host audio editor's users. Floating point in
# SSE2 registers, rounded to each type as on x86-64, so that both targets compute the same
# samples (x87 excess precision moves values that sit on a rounding boundary).
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -msse2 -mfpmath=sse")
