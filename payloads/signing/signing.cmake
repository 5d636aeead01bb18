# The development signing kit: a throwaway root CA and one code-signing
# certificate per signer id, made in the build tree when first needed (never
# committed), and remedion_sign() to sign a PE or MSI file with one of them.

set(REMEDION_SIGNING_DIR "${CMAKE_BINARY_DIR}/payloads/signing")
set(REMEDION_SIGNING_STAMP "${REMEDION_SIGNING_DIR}/kit.stamp")
# The ids make-signing-kit.sh knows, with the names their certificates carry.
set(REMEDION_SIGNER_IDS tessaly quarnel orvane tessaly_no_comma tessaly_lower_case)
set(_remedion_signing_scripts "${CMAKE_CURRENT_LIST_DIR}")

add_custom_command(
  OUTPUT "${REMEDION_SIGNING_STAMP}"
  COMMAND bash "${_remedion_signing_scripts}/make-signing-kit.sh" "${REMEDION_SIGNING_DIR}"
  DEPENDS "${_remedion_signing_scripts}/make-signing-kit.sh"
  COMMENT "Making the development signing kit"
  VERBATIM)

# remedion_sign(<in> <out> <signer-id> [DEPENDS targets-or-files...])
# Signs <in> into <out> as the signer (one of REMEDION_SIGNER_IDS). The output
# is added to the payload kit's files (see remedion_kit_file()).
function(remedion_sign input output signer)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  if(NOT signer IN_LIST REMEDION_SIGNER_IDS)
    message(FATAL_ERROR "remedion_sign: unknown signer '${signer}' (known: ${REMEDION_SIGNER_IDS})")
  endif()
  get_filename_component(name "${output}" NAME)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND bash "${_remedion_signing_scripts}/sign-file.sh"
            "${REMEDION_SIGNING_DIR}" "${signer}" "${input}" "${output}"
    DEPENDS "${input}" "${REMEDION_SIGNING_STAMP}"
            "${_remedion_signing_scripts}/sign-file.sh" ${ARG_DEPENDS}
    COMMENT "Signing ${name} as ${signer}"
    VERBATIM)
  remedion_kit_file("${output}")
endfunction()

# remedion_tamper(<in> <out> [DEPENDS ...]): <out> is <in> with one byte of
# its code section changed, so that its signature no longer verifies.
function(remedion_tamper input output)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(name "${output}" NAME)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND bash "${_remedion_signing_scripts}/tamper-code-byte.sh" "${input}" "${output}"
    DEPENDS "${input}" "${_remedion_signing_scripts}/tamper-code-byte.sh" ${ARG_DEPENDS}
    COMMENT "Tampering with ${name}"
    VERBATIM)
  remedion_kit_file("${output}")
endfunction()
