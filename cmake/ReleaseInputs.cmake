# What a release is made from besides the sources: the maker's three signed
# installers (REMEDION_PAYLOAD_120/122/133, cmake/HelperPayloads.cmake), the
# certificate and key that sign the deployment package, and the RFC 3161
# timestamp server that countersigns those signatures. Without them the build
# falls back to the payload kit's installers and throwaway "Orvane, Inc." key
# (payloads/), which is what development and the tests want and what a
# release must never carry: REMEDION_RELEASE makes every input required.
# Included after HelperPayloads.cmake, so that the payload variables are
# defined (relative paths made absolute) before they are checked.

option(REMEDION_RELEASE
  "Release build: refuse to configure without the maker's payloads, signing certificate and timestamp server"
  OFF)

set(REMEDION_RELEASE_SIGNING_CERT "" CACHE FILEPATH
  "Certificate chain (PEM or DER) that signs KelvoUpgradeHelperInstaller.msi; empty: the kit's \"Orvane, Inc.\"")
set(REMEDION_RELEASE_SIGNING_KEY "" CACHE FILEPATH
  "Private key for REMEDION_RELEASE_SIGNING_CERT")
# A signature without a timestamp stops verifying when its certificate
# expires; with one, it stays valid for what was signed while the
# certificate was. The kit's signatures never get one: the build machines
# have no network, and the kit's certificates are thrown away anyway.
set(REMEDION_TIMESTAMP_URL "" CACHE STRING
  "RFC 3161 timestamp server (http:// or https://) for the signatures made with the release certificate")

set(_remedion_release_files
  REMEDION_PAYLOAD_120 REMEDION_PAYLOAD_122 REMEDION_PAYLOAD_133
  REMEDION_RELEASE_SIGNING_CERT REMEDION_RELEASE_SIGNING_KEY)

# _remedion_release_file_problem(<out var> <cache variable>): why the
# variable does not name a file, or empty when it does.
function(_remedion_release_file_problem out_var name)
  set(value "${${name}}")
  if(value STREQUAL "")
    set(problem "not given")
  elseif(IS_DIRECTORY "${value}")
    set(problem "'${value}' is a folder, not a file")
  elseif(NOT EXISTS "${value}")
    set(problem "no file at '${value}'")
  else()
    set(problem "")
  endif()
  set(${out_var} "${problem}" PARENT_SCOPE)
endfunction()

if(NOT REMEDION_TIMESTAMP_URL STREQUAL "" AND NOT REMEDION_TIMESTAMP_URL MATCHES "^https?://[^/]")
  set(_remedion_timestamp_url_problem
    "'${REMEDION_TIMESTAMP_URL}' is not an http:// or https:// URL")
endif()

if(REMEDION_RELEASE)
  # Every missing input in one message, so that a release configure is not
  # a round trip per variable.
  set(missing "")
  foreach(name IN LISTS _remedion_release_files)
    _remedion_release_file_problem(problem ${name})
    if(problem)
      string(APPEND missing "\n  ${name}: ${problem}")
    endif()
  endforeach()
  if(REMEDION_TIMESTAMP_URL STREQUAL "")
    string(APPEND missing "\n  REMEDION_TIMESTAMP_URL: not given")
  elseif(_remedion_timestamp_url_problem)
    string(APPEND missing "\n  REMEDION_TIMESTAMP_URL: ${_remedion_timestamp_url_problem}")
  endif()
  if(missing)
    message(FATAL_ERROR
      "REMEDION_RELEASE is ON but the release's inputs are missing:${missing}\n"
      "A release embeds the maker's signed installers and signs its package with the "
      "maker's certificate, timestamped; it never falls back to the payload kit's "
      "installers or its throwaway signing key. See \"Release build\" in docs/development.md.")
  endif()
  unset(missing)
  unset(problem)
else()
  if(_remedion_timestamp_url_problem)
    message(FATAL_ERROR "REMEDION_TIMESTAMP_URL: ${_remedion_timestamp_url_problem}")
  endif()
  # The release certificate is optional outside a release, but then it
  # comes with its key.
  if(REMEDION_RELEASE_SIGNING_CERT OR REMEDION_RELEASE_SIGNING_KEY)
    foreach(name IN ITEMS REMEDION_RELEASE_SIGNING_CERT REMEDION_RELEASE_SIGNING_KEY)
      _remedion_release_file_problem(problem ${name})
      if(problem)
        message(FATAL_ERROR "${name}: ${problem} (the certificate and key go together)")
      endif()
    endforeach()
    unset(problem)
  elseif(REMEDION_TIMESTAMP_URL)
    message(WARNING "REMEDION_TIMESTAMP_URL is unused: only signatures made with "
      "REMEDION_RELEASE_SIGNING_CERT are timestamped, never the payload kit's")
  endif()
endif()
