# remedion_add_helper_package(<target> OUTPUT <msi> VERSION a.b.c.d)
# Builds the deployment package KelvoUpgradeHelperInstaller.msi around this
# build's OrvaneUpgradeHelper.exe (signed itself) with wixl and signs it as
# cmake/CodeSigning.cmake says. The ProductCode is
# derived from the upgrade code, the version and the architecture, so that a
# build is reproducible and every version has its own (a major upgrade needs
# that).

set(REMEDION_HELPER_UPGRADE_CODE "F2CB1283-CF1A-46EE-98C9-EEFF071818D0")
set(_remedion_helper_package_dir "${CMAKE_CURRENT_LIST_DIR}")

# remedion_msi_version(<out var> <a,b,c,d>): the package version for a helper
# file version. The helper's file version is its build number
# yy.mm.ddhh.mmss as four 16-bit groups (cmake/BuildInfo.cmake, e.g.
# 26,12,813,4625 for 26.12.0813.4625). Windows Installer takes major < 256,
# minor < 256, build < 65536 and a fourth field it stores but ignores when
# comparing versions; year (< 100), month (<= 12) and ddhh (<= 3123) all fit,
# so the package carries the same four numbers, leading zeros dropped:
# 26.12.813.4625. Builds of the same hour compare equal, which the package's
# MajorUpgrade (same versions upgrade) accounts for.
function(remedion_msi_version out_var version_commas)
  string(REPLACE "," ";" groups "${version_commas}")
  list(LENGTH groups count)
  if(NOT count EQUAL 4)
    message(FATAL_ERROR "remedion_msi_version: '${version_commas}' is not a,b,c,d")
  endif()
  list(GET groups 0 major)
  list(GET groups 1 minor)
  list(GET groups 2 build)
  list(GET groups 3 revision)
  if(major GREATER 255 OR minor GREATER 255 OR build GREATER 65535 OR revision GREATER 65535)
    message(FATAL_ERROR "remedion_msi_version: ${version_commas} is out of a package version's range")
  endif()
  set(${out_var} "${major}.${minor}.${build}.${revision}" PARENT_SCOPE)
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_remedion_helper_package_arch x64)
else()
  set(_remedion_helper_package_arch x86)
endif()

function(remedion_add_helper_package target)
  cmake_parse_arguments(ARG "" "OUTPUT;VERSION" "" ${ARGN})
  foreach(required OUTPUT VERSION)
    if(NOT ARG_${required})
      message(FATAL_ERROR "remedion_add_helper_package(${target}): ${required} is required")
    endif()
  endforeach()
  set(HELPER_PACKAGE_VERSION "${ARG_VERSION}")
  # The lowest version Windows Installer counts as newer than this one.
  string(REPLACE "." ";" groups "${ARG_VERSION}")
  list(GET groups 0 major)
  list(GET groups 1 minor)
  list(GET groups 2 build)
  math(EXPR next_build "${build} + 1")
  set(HELPER_PACKAGE_UPGRADE_LIMIT "${major}.${minor}.${next_build}")
  string(UUID product_code NAMESPACE "${REMEDION_HELPER_UPGRADE_CODE}"
    NAME "KelvoUpgradeHelperInstaller ${ARG_VERSION} ${_remedion_helper_package_arch}"
    TYPE SHA1 UPPER)
  set(HELPER_PACKAGE_PRODUCT_CODE "{${product_code}}")

  set(work "${CMAKE_CURRENT_BINARY_DIR}/${target}")
  set(wxs "${work}/KelvoUpgradeHelperInstaller.wxs")
  set(unsigned "${work}/KelvoUpgradeHelperInstaller.msi")
  configure_file("${_remedion_helper_package_dir}/KelvoUpgradeHelperInstaller.wxs.in" "${wxs}" @ONLY)
  # wixl looks for the file sources in its working folder.
  # wixl writes long names only; the Filename type (validation rule ICE03)
  # wants a short name beside each long one that is not 8.3 itself, which
  # Windows Installer uses where short names are asked for (SHORTFILENAMES,
  # a volume without long names). msitools' msibuild sets them.
  set(short_names
    "UPDATE `Directory` SET `DefaultDir` = 'UPGRADEH|Upgrade Helper' WHERE `Directory` = 'HelperFolder'"
    "UPDATE `File` SET `FileName` = 'ORVANEUP.EXE|OrvaneUpgradeHelper.exe' WHERE `File` = 'OrvaneUpgradeHelperExe'")
  set(short_name_commands "")
  foreach(query IN LISTS short_names)
    list(APPEND short_name_commands COMMAND msibuild "${unsigned}" -q "${query}")
  endforeach()
  add_custom_command(
    OUTPUT "${unsigned}"
    COMMAND wixl -a ${_remedion_helper_package_arch} -o "${unsigned}" "${wxs}"
    ${short_name_commands}
    WORKING_DIRECTORY "$<TARGET_FILE_DIR:OrvaneUpgradeHelper>"
    DEPENDS "${wxs}" OrvaneUpgradeHelper
    COMMENT "Building KelvoUpgradeHelperInstaller.msi ${ARG_VERSION}"
    VERBATIM)

  get_filename_component(output_dir "${ARG_OUTPUT}" DIRECTORY)
  remedion_sign_command(sign_command signer sign_depends "Orvane Upgrade Helper" "${unsigned}"
    "${ARG_OUTPUT}")
  add_custom_command(
    OUTPUT "${ARG_OUTPUT}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${output_dir}"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${ARG_OUTPUT}"
    COMMAND ${sign_command}
    DEPENDS "${unsigned}" ${sign_depends}
    COMMENT "Signing KelvoUpgradeHelperInstaller.msi ${ARG_VERSION} as ${signer}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${ARG_OUTPUT}")
  set_target_properties(${target} PROPERTIES
    HELPER_PACKAGE_PRODUCT_CODE "${HELPER_PACKAGE_PRODUCT_CODE}"
    HELPER_PACKAGE_VERSION "${ARG_VERSION}")
endfunction()
