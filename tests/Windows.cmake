# The test suite as Windows programs, run under Wine by CTest. Every test
# program of a folder holds the tests of that folder that stand on the fake
# runtime and the platform alone; files that need POSIX or start the Linux
# programs of the build (orsa-host, obx-server, orsa-reg) are left out, and the
# configure step names them.

# GoogleTest from the system's sources, built with the cross compiler.
include(${PROJECT_SOURCE_DIR}/cmake/CrossGoogleTest.cmake)

# Runs a Windows program under Wine (scripts/wine-run), every test of the
# build in one Wine prefix of the build's own.
set(OBX_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OBX_WINE_RUN})
set(OBX_WINE_ENVIRONMENT OBX_WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix)

# obx_windows_test_sources(out sources...): the sources that build and run as
# Windows programs.
function(obx_windows_test_sources out)
  set(kept)
  set(linux_only
      "<unistd\\.h>|<sys/|<dlfcn\\.h>|<signal\\.h>|<fcntl\\.h>|<poll\\.h>|<pthread\\.h>|<spawn\\.h>"
      "|ChildProcess\\.h|HostProcess\\.h|ObxServerProcess\\.h|ShellCommand\\.h|FileSizeLimit\\.h"
      "|OBX_BIN_DIR|OBX_LIB_DIR|OBX_TEST_[A-Z]|orsa-reg"
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

# Tests of the built programs that stay Linux-only, with the reason. Each
# entry: program, GoogleTest pattern, reason.
set(OBX_WINDOWS_SKIPPED
  "test_sysinfo|OsLanguage.*|the system language and the desktop folder come from the Linux locale and XDG folders there, on Windows from GetSystemDefaultLangID and SHGetSpecialFolderPathA"
  "test_sysinfo|LowerMultibyte.FollowsTheLocaleAndKeepsStrayBytes|the Windows C runtime has no C.UTF-8 locale"
  "test_tasks|PolicyRulesTest.DeadlineIsLocalTimeWithTheSystemsDaylightSaving|it sets the time zone through TZ, which the Linux platform follows, Windows takes the zone from the system's settings"
  "test_tasks|PolicyRulesTest.PatchMessageAsksInTheSystemLanguageUnderTips|the Chinese message needs a Chinese ANSI code page, the Wine prefix has 1252, where the conversion fails as it must"
)

# obx_windows_test(target): one CTest test running the whole program under Wine.
function(obx_windows_test target)
  set(skipped)
  foreach(entry IN LISTS OBX_WINDOWS_SKIPPED)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 program)
    list(GET fields 1 pattern)
    list(GET fields 2 reason)
    if(program STREQUAL target)
      list(APPEND skipped ${pattern})
      message(STATUS "Windows tests: ${target} skips ${pattern} (${reason})")
    endif()
  endforeach()
  set(filter)
  if(skipped)
    list(JOIN skipped ":" filter)
    set(filter "--gtest_filter=-${filter}")
  endif()
  add_test(NAME ${target} COMMAND ${OBX_WINE_RUN} $<TARGET_FILE:${target}> --gtest_color=no ${filter})
  # One machine: the tests share the registry and drive C: of the Wine prefix.
  set_tests_properties(${target} PROPERTIES TIMEOUT 600 LABELS windows
                       ENVIRONMENT ${OBX_WINE_ENVIRONMENT} RESOURCE_LOCK windows_machine)
endfunction()

# One cycle of obxconsole.dll in obx-testhost against the Linux obx-server
# (scripts/windows-cycle starts it on loopback). OBX_LINUX_BIN_DIR names the
# folder of the Linux build's programs; without it the test is not made.
set(OBX_LINUX_BIN_DIR "" CACHE PATH "bin folder of a Linux build (for obx-server)")
if(OBX_LINUX_BIN_DIR)
  add_test(NAME windows_cycle
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-cycle --build-dir ${PROJECT_BINARY_DIR}
                   --server ${OBX_LINUX_BIN_DIR}/obx-server)
  set_tests_properties(windows_cycle PROPERTIES TIMEOUT 300 LABELS windows
                       ENVIRONMENT ${OBX_WINE_ENVIRONMENT} RESOURCE_LOCK windows_machine)
endif()

# orsa-host.exe as a service of the Wine prefix: installed, started, stopped
# (timed) and removed again.
add_test(NAME windows_service
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-service --build-dir ${PROJECT_BINARY_DIR})
set_tests_properties(windows_service PROPERTIES TIMEOUT 300 LABELS windows
                     ENVIRONMENT ${OBX_WINE_ENVIRONMENT} RESOURCE_LOCK windows_machine)

# The component DLL shows the host its entry point, undecorated, and nothing else.
add_test(NAME windows_exports
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:obxconsole>
                 -DEXPECTED=OrsaExportClass -P ${CMAKE_CURRENT_SOURCE_DIR}/CheckExports.cmake)
set_tests_properties(windows_exports PROPERTIES LABELS windows)

# Every file that ships loads on Windows XP SP3: its imports are in the
# reviewed list of what XP SP3 provides or are exports of another shipped DLL.
add_test(NAME windows_imports
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DBUILD_DIR=${PROJECT_BINARY_DIR}
                 -DALLOWED=${CMAKE_CURRENT_SOURCE_DIR}/windows/xp-sp3-imports.txt
                 -DNOT_SHIPPED=${CMAKE_CURRENT_SOURCE_DIR}/windows/not-shipped.txt
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/CheckImports.cmake)
set_tests_properties(windows_imports PROPERTIES LABELS windows)

# libcrypto reads no openssl.cnf by itself: the one it would look for is the
# build's OPENSSLDIR, a path any user can create on the system drive, and a
# configuration there can switch off every algorithm of the service's seal.
# Named by OPENSSL_CONF, such a file (every fetch asks for a provider that is
# not there) leaves sealing working.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/crypto-config/openssl.cnf
     "openssl_conf = conf\n[conf]\nalg_section = algorithms\n"
     "[algorithms]\ndefault_properties = fips=yes\n")
add_test(NAME windows_crypto_config
         COMMAND ${OBX_WINE_RUN} $<TARGET_FILE:orsa-seal> seal openssl.cnf openssl.cnf.sealed
         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/crypto-config)
set_tests_properties(windows_crypto_config PROPERTIES LABELS windows
                     ENVIRONMENT "${OBX_WINE_ENVIRONMENT};OPENSSL_CONF=openssl.cnf")

# A patch program for the install test (scripts/windows-install-test): it
# answers under its task's registry key with the arguments it was given. The
# agent runs it from the update folder, where no runtime DLL lies: it links
# the C++ and GCC runtimes in.
add_executable(obx-patchprogram windows/PatchProgram.cpp)
target_link_options(obx-patchprogram PRIVATE -static)

# The agent's package installed into a fresh Wine prefix: the service runs a
# whole cycle against the Linux obx-server, with .cmd boot programs and a
# .cmd and an .exe patch program, then stops and is uninstalled.
if(OBX_LINUX_BIN_DIR)
  add_test(NAME windows_install
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-install-test --build-dir ${PROJECT_BINARY_DIR}
                   --server ${OBX_LINUX_BIN_DIR}/obx-server
                   --transcript ${PROJECT_BINARY_DIR}/windows-install-test.log)
  set_tests_properties(windows_install PROPERTIES TIMEOUT 300 LABELS windows)
endif()
