# System packages installed by scripts/bootstrap; nothing is fetched at build time.
# The Windows build (cmake/toolchain-i686-mingw.cmake) finds static libraries
# that scripts/cross-deps built from Debian's source packages, and only what
# the component, liborsa and the tests need: no SQLite (the registry is the
# system's), POCO Foundation alone, libcurl for plain HTTP.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
if(WIN32)
  set(OPENSSL_USE_STATIC_LIBS ON)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
find_package(ZLIB REQUIRED)
find_package(Boost 1.74 REQUIRED)
pkg_check_modules(TINYXML REQUIRED IMPORTED_TARGET tinyxml)
if(WIN32)
  find_package(CURL CONFIG REQUIRED)
  find_package(Poco REQUIRED COMPONENTS Foundation)
  # The static libcrypto uses the system's sockets and certificate store.
  set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32 crypt32)
else()
  find_package(SQLite3 REQUIRED)
  find_package(CURL REQUIRED)
  find_package(Poco REQUIRED COMPONENTS Foundation Util Net)
  find_package(Iconv)
endif()
