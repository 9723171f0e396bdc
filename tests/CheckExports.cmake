# Fails unless the export table of a DLL names exactly the expected symbols.
#   cmake -DOBJDUMP=<objdump> -DDLL=<file> -DEXPECTED=<name;...> -P tests/CheckExports.cmake
include(${CMAKE_CURRENT_LIST_DIR}/PeTables.cmake)
obx_pe_dump(dump ${DLL})
obx_exports(exports "${dump}")
string(STRIP "${exports}" exports)
string(REPLACE "\n" ";" names "${exports}")
if(NOT names STREQUAL EXPECTED)
  message(FATAL_ERROR "${DLL} exports [${names}], expected [${EXPECTED}]")
endif()
message(STATUS "${DLL} exports ${names}")
