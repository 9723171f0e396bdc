# GoogleTest and GoogleMock for a cross build. The installed libraries are
# built for the build machine, so the tests of another system get them
# compiled from Debian's sources (package googletest, /usr/src/googletest) with
# the cross compiler, under the names find_package(GTest) gives:
# GTest::gtest, GTest::gtest_main, GTest::gmock, GTest::gmock_main.
#   include(cmake/CrossGoogleTest.cmake)   # instead of find_package(GTest)
set(OBX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT TARGET GTest::gtest)
  if(NOT EXISTS ${OBX_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${OBX_GOOGLETEST_SOURCE}: install googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${OBX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(lib gtest gtest_main gmock gmock_main)
    # Third-party code: built quietly, with its own symbols visible.
    set_target_properties(${lib} PROPERTIES COMPILE_OPTIONS "-w" CXX_VISIBILITY_PRESET default)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
