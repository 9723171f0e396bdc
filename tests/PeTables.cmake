# Reading the tables of a Windows executable or DLL with objdump; included by
# the checks of exports and imports. Needs OBJDUMP.

# obx_pe_dump(out file): objdump's dump of the headers and tables of `file`.
function(obx_pe_dump out file)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed")
  endif()
  set(${out} "${dump}" PARENT_SCOPE)
endfunction()

# obx_exports(out dump): the names the dumped DLL exports, as "\nname\n...".
function(obx_exports out dump)
  set(names "\n")
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
  if(at GREATER -1)
    string(SUBSTRING "${dump}" ${at} -1 table)
    string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" rows "${table}")
    foreach(row IN LISTS rows)
      string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" name "${row}")
      string(APPEND names "${name}\n")
    endforeach()
  endif()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
