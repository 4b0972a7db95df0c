# Cross-compiles for Windows x64 with Debian's mingw-w64, POSIX-thread flavour (the -win32
# flavour lacks std::thread and std::mutex, which Boost.Asio and our code use).
#
# TAMRO_WINDOWS_DEPS (cache variable or environment variable) names the prefix that
# scripts/windows/build-deps fills with static OpenSSL, Net-SNMP, ctemplate, Boost and
# googletest; only it and the mingw-w64 sysroot are searched for libraries and headers.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(tamro_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${tamro_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tamro_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${tamro_mingw}-windres)

if(NOT TAMRO_WINDOWS_DEPS AND DEFINED ENV{TAMRO_WINDOWS_DEPS})
  set(TAMRO_WINDOWS_DEPS $ENV{TAMRO_WINDOWS_DEPS})
endif()
# try_compile projects reload this file: hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAMRO_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${tamro_mingw} ${TAMRO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(TAMRO_WINDOWS_DEPS)
  # Never let pkg-config answer with the host's .pc files.
  set(ENV{PKG_CONFIG_LIBDIR} ${TAMRO_WINDOWS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# Static libraries only, and a fully static executable: no mingw DLLs to ship.
set(OPENSSL_USE_STATIC_LIBS ON)
set(Boost_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Test programs run under wine64 where it is installed (Debian puts it off PATH).
find_program(TAMRO_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TAMRO_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAMRO_WINE64})
endif()
