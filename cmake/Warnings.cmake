# Warnings for every target of the project; third-party headers come in as
# system includes and stay quiet.
add_compile_options(-Wall -Wextra -Wpedantic -Wno-unused-parameter)
option(OBX_WERROR "Treat warnings as errors" OFF)
if(OBX_WERROR)
  add_compile_options(-Werror)
endif()
