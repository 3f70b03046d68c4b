# Cross-compiling Kestrane for 64-bit Windows with Debian's mingw-w64 (the posix-threads
# compilers, for std::thread and std::async):
#
#   cmake -S . -B build/windows/build --toolchain cmake/mingw-w64.cmake
#
# Libraries made for Windows are looked up in the mingw-w64 sysroot (zlib from
# libz-mingw-w64-dev) and in KESTRANE_WINDOWS_DEPS, where scripts/build-windows installs
# ISA-L built from Debian's source with its libisal.pc; programs on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRANE_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRANE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRANE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRANE_MINGW}-windres)

if(NOT KESTRANE_WINDOWS_DEPS)
    get_filename_component(KESTRANE_WINDOWS_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build/windows/deps ABSOLUTE)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRANE_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRANE_MINGW} ${KESTRANE_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${KESTRANE_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Each program runs by itself: the C++ runtime, winpthread, zlib and ISA-L are linked in.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run through Wine, without a display.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
