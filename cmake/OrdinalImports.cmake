# Import libraries that bind system functions by ordinal rather than by
# name. Each entry is "Name:ArgumentBytes:Ordinal"; the argument bytes give
# the stdcall decoration of 32-bit builds.
function(remedion_ordinal_import target dll)
  set(def "${CMAKE_BINARY_DIR}/ordinals/${target}.def")
  set(lib "${CMAKE_BINARY_DIR}/ordinals/lib${target}.a")
  set(content "LIBRARY ${dll}\nEXPORTS\n")
  foreach(entry IN LISTS ARGN)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 bytes)
    list(GET parts 2 ordinal)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(APPEND content "${name}@${bytes} @${ordinal} NONAME\n")
    else()
      string(APPEND content "${name} @${ordinal} NONAME\n")
    endif()
  endforeach()
  file(WRITE "${def}" "${content}")

  add_custom_command(OUTPUT "${lib}"
    COMMAND ${CMAKE_DLLTOOL} -d "${def}" -l "${lib}"
    DEPENDS "${def}"
    COMMENT "Ordinal import library for ${dll}")
  add_custom_target(${target}_lib DEPENDS "${lib}")
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${lib}")
  add_dependencies(${target} ${target}_lib)
endfunction()
