# Writes the winget manifests of the MSI (version, defaultLocale, installer;
# winget-pkgs' multi-file layout) into OUTPUT_DIR, with the MSI's SHA-256 and
# its ProductCode as the MSI itself says.
# Run as cmake -P with -D for MSI, MSIINFO, VERSION, INSTALLER_URL,
# TEMPLATES and OUTPUT_DIR.

file(SHA256 ${MSI} installer_sha256)
string(TOUPPER ${installer_sha256} installer_sha256)

execute_process(COMMAND ${MSIINFO} export ${MSI} Property OUTPUT_VARIABLE properties RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT properties MATCHES "\nProductCode\t({[0-9A-Fa-f-]+})")
  message(FATAL_ERROR "${MSI}: no ProductCode in its Property table")
endif()
set(product_code ${CMAKE_MATCH_1})
if(NOT properties MATCHES "\nUpgradeCode\t({[0-9A-Fa-f-]+})")
  message(FATAL_ERROR "${MSI}: no UpgradeCode in its Property table")
endif()
string(TOUPPER ${CMAKE_MATCH_1} upgrade_code)

set(package_identifier TavoctlAuthors.tavoctl)
file(REMOVE_RECURSE ${OUTPUT_DIR})
foreach(manifest version locale.en-US installer)
  set(name ${package_identifier}.${manifest}.yaml)
  if(manifest STREQUAL "version")
    set(name ${package_identifier}.yaml)
  endif()
  configure_file(${TEMPLATES}/${manifest}.yaml.in ${OUTPUT_DIR}/${name} @ONLY NEWLINE_STYLE UNIX)
endforeach()
