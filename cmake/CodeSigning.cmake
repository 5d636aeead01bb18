# Authenticode signing of what the build ships: the helper executable and
# the deployment package. With REMEDION_RELEASE_SIGNING_CERT/_KEY
# (cmake/ReleaseInputs.cmake, which a release build requires) the maker's
# certificate signs, timestamped by REMEDION_TIMESTAMP_URL when given; else
# the development kit's throwaway "Orvane, Inc." (payloads/signing/), made by
# the target payload_kit.

# remedion_sign_command(<command var> <signer var> <depends var> <description>
#                       <input> <output>)
# The command that signs <input> into <output>, who signs (for the build's
# messages) and the files the signing depends on. <description> is the
# signature's program name.
function(remedion_sign_command command_var signer_var depends_var description input output)
  if(REMEDION_RELEASE_SIGNING_CERT)
    set(command
      osslsigncode sign -certs "${REMEDION_RELEASE_SIGNING_CERT}"
        -key "${REMEDION_RELEASE_SIGNING_KEY}" -h sha256 -n "${description}")
    set(signer "the release certificate")
    if(REMEDION_TIMESTAMP_URL)
      # RFC 3161; osslsigncode fails the signing when the server does not
      # answer, so nothing signed goes out without its timestamp.
      list(APPEND command -ts "${REMEDION_TIMESTAMP_URL}")
      string(APPEND signer ", timestamped by ${REMEDION_TIMESTAMP_URL}")
    endif()
    list(APPEND command -in "${input}" -out "${output}")
    set(depends "${REMEDION_RELEASE_SIGNING_CERT}" "${REMEDION_RELEASE_SIGNING_KEY}")
  else()
    set(command
      bash "${CMAKE_SOURCE_DIR}/payloads/signing/sign-file.sh"
        "${CMAKE_BINARY_DIR}/payloads/signing" orvane "${input}" "${output}" "${description}")
    set(signer "Orvane, Inc. (development kit)")
    set(depends "${CMAKE_SOURCE_DIR}/payloads/signing/sign-file.sh")
  endif()
  set(${command_var} "${command}" PARENT_SCOPE)
  set(${signer_var} "${signer}" PARENT_SCOPE)
  set(${depends_var} "${depends}" PARENT_SCOPE)
endfunction()

# remedion_sign_executable(<target>): signs the target's file in place after
# each link, so that whatever takes the file afterwards (the package, the
# tests) takes it signed. An application-control policy blocks an unsigned
# program in a folder its user can write to.
function(remedion_sign_executable target)
  set(file "$<TARGET_FILE:${target}>")
  # A build step cannot depend on files; the kit comes from payload_kit.
  remedion_sign_command(command signer unused_depends "Orvane Upgrade Helper" "${file}"
    "${file}.signed")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${command}
    COMMAND ${CMAKE_COMMAND} -E rename "${file}.signed" "${file}"
    COMMENT "Signing ${target} as ${signer}"
    VERBATIM)
  if(NOT REMEDION_RELEASE_SIGNING_CERT)
    add_dependencies(${target} payload_kit)
  endif()
endfunction()
