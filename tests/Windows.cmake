# The test suite as Windows programs, run under Wine by CTest. Every test
# program of a folder holds the tests of that folder that stand on the fake
# runtime and the platform alone; files that need POSIX or start the Linux
# programs of the build (orsa-host, obx-server, orsa-reg) are left out, and the
# configure step names them.

# GoogleTest from the system's sources (Debian's googletest), built with the
# cross compiler.
if(NOT TARGET gtest)
  set(OBX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${OBX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

# Runs a Windows program under Wine with the build's own prefix (scripts/wine-run).
set(OBX_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)

# obx_windows_test_sources(out sources...): the sources that build and run as
# Windows programs.
function(obx_windows_test_sources out)
  set(kept)
  set(linux_only
      "<unistd\\.h>|<sys/|<dlfcn\\.h>|<signal\\.h>|<fcntl\\.h>|<poll\\.h>|<pthread\\.h>|<spawn\\.h>"
      "|ChildProcess\\.h|HostProcess\\.h|ObxServerProcess\\.h|ShellCommand\\.h|FileSizeLimit\\.h"
      "|LoopbackHttpServer\\.h|OBX_BIN_DIR|OBX_LIB_DIR|OBX_TEST_[A-Z]|OBX_ORSAP2P|orsa-reg"
      "|obx-server|setenv|uselocale|newlocale")
  string(CONCAT linux_only ${linux_only})
  foreach(source IN LISTS ARGN)
    file(READ ${source} text)
    if(text MATCHES "${linux_only}")
      file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${source})
      message(STATUS "Windows tests: ${name} left out (it needs POSIX or a Linux program: ${CMAKE_MATCH_0})")
    else()
      list(APPEND kept ${source})
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# obx_windows_test(target): one CTest test running the whole program under Wine.
function(obx_windows_test target)
  add_test(NAME ${target} COMMAND ${OBX_WINE_RUN} $<TARGET_FILE:${target}> --gtest_color=no)
  set_tests_properties(${target} PROPERTIES TIMEOUT 600 LABELS windows)
endfunction()

# One cycle of obxconsole.dll in obx-testhost against the Linux obx-server
# (scripts/windows-cycle starts it on loopback). OBX_LINUX_BIN_DIR names the
# folder of the Linux build's programs; without it the test is not made.
set(OBX_LINUX_BIN_DIR "" CACHE PATH "bin folder of a Linux build (for obx-server)")
if(OBX_LINUX_BIN_DIR)
  add_test(NAME windows_cycle
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-cycle --build-dir ${PROJECT_BINARY_DIR}
                   --server ${OBX_LINUX_BIN_DIR}/obx-server)
  set_tests_properties(windows_cycle PROPERTIES TIMEOUT 300 LABELS windows)
endif()
