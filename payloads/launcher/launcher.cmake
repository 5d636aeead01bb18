# remedion_add_launcher_msi(<out> VERSION a.b.c PRODUCT_CODE {GUID}
#                           STAND_IN <target> [PRODUCT_NAME <name>] [FAILING])
# Builds the launcher's (unsigned) per-user package for one version with
# wixl, packing the stand-in KelvoApplicationLauncher.exe built by <target>.
# PRODUCT_NAME replaces "Kelvo Application Launcher", for packages that share
# the upgrade code but are not the launcher.
# FAILING adds a launch condition that never holds, so the install ends with
# 1603 before anything is changed.
set(_remedion_launcher_template "${CMAKE_CURRENT_LIST_DIR}/launcher.wxs.in")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(REMEDION_WIXL_ARCH x64)
else()
  set(REMEDION_WIXL_ARCH x86)
endif()

function(remedion_add_launcher_msi output)
  cmake_parse_arguments(ARG "FAILING" "VERSION;PRODUCT_CODE;STAND_IN;PRODUCT_NAME" "" ${ARGN})
  foreach(required VERSION PRODUCT_CODE STAND_IN)
    if(NOT ARG_${required})
      message(FATAL_ERROR "remedion_add_launcher_msi(${output}): ${required} is required")
    endif()
  endforeach()
  set(LAUNCHER_VERSION "${ARG_VERSION}")
  set(LAUNCHER_PRODUCT_CODE "${ARG_PRODUCT_CODE}")
  set(LAUNCHER_PRODUCT_NAME "Kelvo Application Launcher")
  if(ARG_PRODUCT_NAME)
    set(LAUNCHER_PRODUCT_NAME "${ARG_PRODUCT_NAME}")
  endif()
  set(LAUNCHER_EXTRA_ELEMENTS "")
  if(ARG_FAILING)
    # An undefined property is false.
    set(LAUNCHER_EXTRA_ELEMENTS
      "    <Condition Message=\"This package is built never to install.\">REMEDION_NEVER_SET</Condition>\n")
  endif()
  get_filename_component(name "${output}" NAME)
  get_filename_component(name_wle "${output}" NAME_WLE)
  get_filename_component(folder "${output}" DIRECTORY)
  set(wxs "${CMAKE_CURRENT_BINARY_DIR}/launcher/${name_wle}.wxs")
  configure_file("${_remedion_launcher_template}" "${wxs}" @ONLY)
  # wixl looks for the file sources in its working folder.
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
    COMMAND wixl -a ${REMEDION_WIXL_ARCH} -o "${output}" "${wxs}"
    WORKING_DIRECTORY "$<TARGET_FILE_DIR:${ARG_STAND_IN}>"
    DEPENDS "${wxs}" ${ARG_STAND_IN}
    COMMENT "Building installer package ${name} (${ARG_VERSION})"
    VERBATIM)
  remedion_kit_file("${output}")
endfunction()
