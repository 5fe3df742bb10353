# 32-bit Windows with Debian's MinGW-w64 cross compilers (the -posix ones:
# GCC 12's win32 thread model has no std::mutex). Everything links the C and
# C++ runtimes statically, so that programs and the DLL import only system
# DLLs. Packages are looked for only in the MinGW root and in the dependency
# prefix that scripts/windows-deps.sh builds into the build folder
# (NALO_WINDOWS_DEPS, by default <build>/deps).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(NALO_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${NALO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NALO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${NALO_MINGW_TRIPLET}-windres)

if(NOT NALO_WINDOWS_DEPS)
  set(NALO_WINDOWS_DEPS ${CMAKE_BINARY_DIR}/deps)
endif()
set(NALO_WINDOWS_DEPS ${NALO_WINDOWS_DEPS} CACHE PATH "Dependency prefix of the Windows build")
# The compiler checks read this file again in their own folders; they keep
# the prefix, and so the environment below, of the build.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NALO_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${NALO_MINGW_TRIPLET} ${NALO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads only the prefix's own .pc files.
set(ENV{PKG_CONFIG_LIBDIR} ${NALO_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
