# Cross-compiles for 32-bit Windows with mingw-w64 (the -posix thread model, so
# that std::thread and std::mutex exist). Use:
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake
# Libraries cross-built into OBX_WIN32_PREFIX (default: .cache/win32-prefix in
# the source tree) are found there and only there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(OBX_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${OBX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OBX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OBX_MINGW_TRIPLET}-windres)

# The oldest system the binaries load on is Windows XP SP3: the SDK headers
# hide every call that came later, in the project and in every library
# scripts/cross-deps builds (it reads this line for the builds that are not
# CMake projects).
set(OBX_WIN32_DEFINES "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501")
set(CMAKE_C_FLAGS_INIT "${OBX_WIN32_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${OBX_WIN32_DEFINES}")
set(CMAKE_RC_FLAGS_INIT "${OBX_WIN32_DEFINES}")

if(NOT OBX_WIN32_PREFIX)
  get_filename_component(OBX_WIN32_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../.cache/win32-prefix ABSOLUTE)
endif()
set(OBX_WIN32_PREFIX ${OBX_WIN32_PREFIX} CACHE PATH "Prefix of the cross-built Windows libraries")
# try_compile projects see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OBX_WIN32_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${OBX_MINGW_TRIPLET} ${OBX_WIN32_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config (TinyXML) looks into the prefix alone, never at the Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} ${OBX_WIN32_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
