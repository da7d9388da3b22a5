# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (the POSIX threads variant,
# which std::thread needs). Everything is linked statically, so the .exe files run on a bare
# Windows (or under wine) without the compiler's run-time DLLs beside them.
#
# Third-party libraries (zlib, libzip, GoogleTest) come from ROVENZA_WIN_DEPS_PREFIX, which
# scripts/windows-deps.sh fills; pkg-config looks only there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ROVENZA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ROVENZA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ROVENZA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ROVENZA_MINGW_TRIPLE}-windres)

if(NOT ROVENZA_WIN_DEPS_PREFIX)
  if(DEFINED ENV{ROVENZA_WIN_DEPS_PREFIX})
    set(ROVENZA_WIN_DEPS_PREFIX $ENV{ROVENZA_WIN_DEPS_PREFIX})
  else()
    set(ROVENZA_WIN_DEPS_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../build-win-deps/prefix)
  endif()
endif()
get_filename_component(ROVENZA_WIN_DEPS_PREFIX "${ROVENZA_WIN_DEPS_PREFIX}" ABSOLUTE)
# Passed on to the try_compile projects CMake runs while it checks the compilers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ROVENZA_WIN_DEPS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${ROVENZA_MINGW_TRIPLE} ${ROVENZA_WIN_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The host's pkg-config, reading only the cross prefix, and with the private (static) libraries.
set(ENV{PKG_CONFIG_LIBDIR} ${ROVENZA_WIN_DEPS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(PKG_CONFIG_ARGN --static)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test programs run under wine when they are run on this machine (gtest_discover_tests, ctest).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ROVENZA_WINE wine)
  if(ROVENZA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ROVENZA_WINE})
  endif()
endif()
