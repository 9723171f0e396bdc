# Each library shows its users only its own folder of headers. The headers are
# included from the repository root ("foundation/Log.h"), so every library gets
# an include folder of its own in the build tree holding one link to its
# source folder; a target that includes a folder whose library it does not
# link finds no such header and fails to build.

# obx_expose(target folder...): `target` shows the given source folders to
# itself and to whatever links it (INTERFACE libraries: to users only).
function(obx_expose target)
  set(stage ${PROJECT_BINARY_DIR}/include/${target})
  foreach(folder IN LISTS ARGN)
    get_filename_component(parent ${stage}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${stage}/${folder})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${stage}/${folder} SYMBOLIC)
    endif()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${stage})
  else()
    target_include_directories(${target} PUBLIC ${stage})
  endif()
endfunction()

# obx_subsystem(name SOURCES files... [PUBLIC deps...] [PRIVATE deps...]): the
# folder's sources, listed, become one static library showing the folder's
# headers. PUBLIC lists what the folder's own headers include; everything
# else is PRIVATE.
function(obx_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "obx_subsystem(${name}): no SOURCES")
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  obx_expose(${name} ${folder})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()
