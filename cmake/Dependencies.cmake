# System packages installed by scripts/bootstrap; nothing is fetched at build time.
# The Windows build (cmake/toolchain-i686-mingw.cmake) finds the libraries
# that scripts/cross-deps built from Debian's source packages, and only what
# the component, liborsa and the tests need: no SQLite (the registry is the
# system's), POCO Foundation alone, libcurl for plain HTTP. They are static
# but for libcrypto, whose DLL (libcrypto-3.dll, through its import library)
# every module shares; zlib is the static one of Debian's mingw package.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
  # A build folder configured when the prefix held a static libcrypto.a
  # looks for the import library afresh (FindOpenSSL keeps MinGW's in LIB_EAY).
  if(LIB_EAY AND NOT LIB_EAY MATCHES "\\.dll\\.a$")
    unset(LIB_EAY CACHE)
  endif()
endif()
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
find_package(ZLIB REQUIRED)
find_package(Boost 1.74 REQUIRED)
pkg_check_modules(TINYXML REQUIRED IMPORTED_TARGET tinyxml)
if(WIN32)
  find_package(CURL CONFIG REQUIRED)
  find_package(Poco REQUIRED COMPONENTS Foundation)
  if(NOT OPENSSL_CRYPTO_LIBRARY MATCHES "\\.dll\\.a$")
    message(FATAL_ERROR "${OPENSSL_CRYPTO_LIBRARY} is not libcrypto's import library: "
                        "scripts/cross-deps builds libcrypto-3.dll into ${OBX_WIN32_PREFIX}")
  endif()
else()
  find_package(SQLite3 REQUIRED)
  find_package(CURL REQUIRED)
  find_package(Poco REQUIRED COMPONENTS Foundation Util Net)
  find_package(Iconv)
endif()
