# Build metadata that the helper logs at start-up, fixed at configure time:
# the build number and time (UTC), and the branch and revision the build
# came from, Base64-encoded.

function(_remedion_base64 text out_var)
  execute_process(
    COMMAND sh -c "printf '%s' \"$1\" | base64 -w0" sh "${text}"
    OUTPUT_VARIABLE encoded
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "base64 failed for '${text}'")
  endif()
  set(${out_var} "${encoded}" PARENT_SCOPE)
endfunction()

function(remedion_build_info)
  # One clock reading for every field, so that a second or a day turning
  # over between readings cannot mix two times.
  string(TIMESTAMP now "%Y%m%d%H%M%S" UTC)
  string(SUBSTRING "${now}" 0 4 year)
  string(SUBSTRING "${now}" 2 2 yy)
  string(SUBSTRING "${now}" 4 2 mm)
  string(SUBSTRING "${now}" 6 2 dd)
  string(SUBSTRING "${now}" 8 2 hh)
  string(SUBSTRING "${now}" 10 2 mi)
  string(SUBSTRING "${now}" 12 2 ss)
  set(ddhh "${dd}${hh}")
  set(mmss "${mi}${ss}")
  set(build_ts "${year}-${mm}-${dd}  ${hh}:${mi}:${ss} UTC")

  set(branch "unknown")
  set(revision "0000000000000000000000000000000000000000")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE git_rev OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE rev_rc ERROR_QUIET)
    if(rev_rc EQUAL 0 AND git_rev MATCHES "^[0-9a-f]+$")
      set(revision "${git_rev}")
    endif()
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --abbrev-ref HEAD
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE git_branch OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE branch_rc ERROR_QUIET)
    if(branch_rc EQUAL 0 AND NOT git_branch STREQUAL "")
      set(branch "${git_branch}")
    endif()
  endif()

  _remedion_base64("${branch}" branch_b64)
  _remedion_base64("${revision}" revision_b64)

  # The version resource needs each group as a 16-bit number; the logged text
  # keeps the leading zeros of the day/hour and minute/second groups.
  set(REMEDION_BUILD_NUMBER "${yy}.${mm}.${ddhh}.${mmss}")
  math(EXPR v1 "${yy}")
  math(EXPR v2 "${mm}")
  math(EXPR v3 "${ddhh}")
  math(EXPR v4 "${mmss}")
  set(REMEDION_VERSION_COMMAS "${v1},${v2},${v3},${v4}")
  set(REMEDION_BUILD_TS "${build_ts}")
  set(REMEDION_BRANCH_B64 "${branch_b64}")
  set(REMEDION_REVISION_B64 "${revision_b64}")
  set(REMEDION_BUILD_CONFIG "Release")
  # The version block's copyright, as of the build's year.
  set(REMEDION_LEGAL_COPYRIGHT "Copyright (C) ${year} Orvane, Inc.")

  configure_file(${CMAKE_SOURCE_DIR}/app/build_info.h.in
                 ${CMAKE_BINARY_DIR}/generated/build_info.h @ONLY)
  set(REMEDION_BUILD_NUMBER "${REMEDION_BUILD_NUMBER}" PARENT_SCOPE)
  set(REMEDION_VERSION_COMMAS "${REMEDION_VERSION_COMMAS}" PARENT_SCOPE)
endfunction()
