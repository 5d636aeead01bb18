# remedion_add_setup_client_installer(<out> VERSION a.b.c COMPANY <folder>
#                                     STAND_IN <target> [LINGERER <target>]
#                                     [FAILING])
# Builds the setup client's (unsigned) NSIS setup program for one version and
# company folder, packing the stand-in KelvoSetupClient.exe built by <target>;
# with LINGERER, also a program its uninstaller starts and leaves running;
# FAILING, a setup program that ends with 1603 after it has started.
# The setup program's architecture follows the helper build's, so that the
# test machine's Wine can run it.
set(_remedion_setup_client_script "${CMAKE_CURRENT_LIST_DIR}/setup_client.nsi")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(REMEDION_NSIS_TARGET amd64-unicode)
else()
  set(REMEDION_NSIS_TARGET x86-unicode)
endif()

function(remedion_add_setup_client_installer output)
  cmake_parse_arguments(ARG "FAILING" "VERSION;COMPANY;STAND_IN;LINGERER" "" ${ARGN})
  foreach(required VERSION COMPANY STAND_IN)
    if(NOT ARG_${required})
      message(FATAL_ERROR "remedion_add_setup_client_installer(${output}): ${required} is required")
    endif()
  endforeach()
  set(lingerer_define "")
  set(lingerer_target "")
  if(ARG_LINGERER)
    set(lingerer_define "-DLINGERER=$<TARGET_FILE:${ARG_LINGERER}>")
    set(lingerer_target ${ARG_LINGERER})
  endif()
  set(failing_define "")
  if(ARG_FAILING)
    set(failing_define "-DFAILING=1")
  endif()
  get_filename_component(name "${output}" NAME)
  get_filename_component(folder "${output}" DIRECTORY)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
    COMMAND makensis -V2 -NOCD
            "-DNSIS_TARGET=${REMEDION_NSIS_TARGET}"
            "-DVERSION=${ARG_VERSION}"
            "-DCOMPANY=${ARG_COMPANY}"
            "-DSTAND_IN_EXE=$<TARGET_FILE:${ARG_STAND_IN}>"
            "-DOUT_FILE=${output}"
            ${lingerer_define} ${failing_define}
            "${_remedion_setup_client_script}"
    DEPENDS "${_remedion_setup_client_script}" ${ARG_STAND_IN} ${lingerer_target}
    COMMENT "Building setup program ${name} (${ARG_VERSION}, ${ARG_COMPANY})"
    VERBATIM)
  remedion_kit_file("${output}")
endfunction()
