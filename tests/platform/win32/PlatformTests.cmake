# The platform's tests as a Windows program, test_platform.exe: the tests of
# tests/platform that build on every system and the Windows ones beside this
# file. Needs the targets obx_platform and GTest::gtest_main and the tree's
# obx_expose; included by the whole tree's Windows build (tests/CMakeLists.txt)
# and by the platform's own Windows project beside this file.
set(OBX_PLATFORM_TESTS_DIR ${CMAKE_CURRENT_LIST_DIR}/..)
set(OBX_WIN32_PLATFORM_TESTS File_win32_test.cpp FolderRights_win32_test.cpp Process_win32_test.cpp Registry_win32_test.cpp System_win32_test.cpp)
list(TRANSFORM OBX_WIN32_PLATFORM_TESTS PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
add_executable(test_platform ${OBX_PLATFORM_TESTS_DIR}/Thread_test.cpp
               ${OBX_PLATFORM_TESTS_DIR}/SmartIdentify_test.cpp ${OBX_WIN32_PLATFORM_TESTS}
               ${OBX_PLATFORM_TESTS_DIR}/../support/ManualClock.cpp)
target_link_libraries(test_platform PRIVATE obx_platform GTest::gtest_main advapi32 shell32)
obx_expose(test_platform tests/platform tests/support)
# The child the process tests start, beside the test program.
add_executable(obx-sleeper ${CMAKE_CURRENT_LIST_DIR}/programs/Sleeper.cpp)
# Copied elsewhere by the tests: it takes its runtime along.
target_link_options(obx-sleeper PRIVATE -static)
add_dependencies(test_platform obx-sleeper)

# The compiler's runtime DLLs beside the programs, where Windows looks first.
# The whole tree has put the ones that ship there already (OBX_WIN32_RUNTIME).
if(NOT OBX_WIN32_RUNTIME)
  foreach(dll libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${found}" AND EXISTS "${found}")
      file(COPY ${found} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    endif()
  endforeach()
endif()

# Under Wine (scripts/wine-run) unless the build names another runner; a
# 32-bit prefix of the build's own, no display.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(OBX_WINE_RUNNER ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  set(OBX_WINE_RUNNER ${CMAKE_CURRENT_LIST_DIR}/../../../scripts/wine-run)
endif()
add_test(NAME win32_platform COMMAND ${OBX_WINE_RUNNER} $<TARGET_FILE:test_platform>)
set_tests_properties(win32_platform PROPERTIES TIMEOUT 600
  ENVIRONMENT "OBX_WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix")
