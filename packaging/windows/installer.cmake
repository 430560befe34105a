# The Windows installer: `cmake --build --preset windows-release --target msi`
# makes tavoctl-<version>-x64.msi in the build folder (msi.cmake) and its
# winget manifests in winget/ beside it (winget.cmake).

set(msi_dir ${CMAKE_CURRENT_LIST_DIR})
set(TAVOCTL_MSI ${CMAKE_BINARY_DIR}/tavoctl-${PROJECT_VERSION}-x64.msi)
set(TAVOCTL_MSI_URL "https://example.invalid/replace-with-the-release-download/tavoctl-${PROJECT_VERSION}-x64.msi"
    CACHE STRING "Where the release offers the MSI, for the winget installer manifest")

find_program(WIXL wixl)
find_program(MSIBUILD msibuild)
find_program(MSIINFO msiinfo)
if(NOT WIXL OR NOT MSIBUILD OR NOT MSIINFO)
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo "The MSI needs wixl and msitools (tools/install-deps windows installs them)"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  return()
endif()

# One ProductCode per version, the same for every build of it: a rebuilt
# MSI is the same product to Windows and to winget, and a new version is a
# new one, which the fixed UpgradeCode (in the .wxs) lets replace the old.
file(READ ${msi_dir}/tavoctl.wxs wxs)
if(NOT wxs MATCHES "UpgradeCode=\"([0-9A-F-]+)\"")
  message(FATAL_ERROR "${msi_dir}/tavoctl.wxs names no UpgradeCode")
endif()
string(UUID product_code NAMESPACE ${CMAKE_MATCH_1} NAME "tavoctl ${PROJECT_VERSION}" TYPE SHA1 UPPER)

set(winget_dir ${CMAKE_BINARY_DIR}/winget)
add_custom_command(OUTPUT ${TAVOCTL_MSI} ${winget_dir}/TavoctlAuthors.tavoctl.installer.yaml
  COMMAND ${CMAKE_COMMAND} -DWIXL=${WIXL} -DMSIBUILD=${MSIBUILD} -DSTRIP=${CMAKE_STRIP}
          -DWXS=${msi_dir}/tavoctl.wxs -DVERSION=${PROJECT_VERSION} -DPRODUCT_CODE={${product_code}}
          -DEXE=$<TARGET_FILE:tavoctl> -DMANUAL=${TAVOCTL_MANUAL_HTML} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
          -DSTAGE=${CMAKE_BINARY_DIR}/msi-stage -DOUTPUT=${TAVOCTL_MSI} -P ${msi_dir}/msi.cmake
  COMMAND ${CMAKE_COMMAND} -DMSI=${TAVOCTL_MSI} -DMSIINFO=${MSIINFO} -DVERSION=${PROJECT_VERSION}
          -DINSTALLER_URL=${TAVOCTL_MSI_URL} -DTEMPLATES=${msi_dir}/winget -DOUTPUT_DIR=${winget_dir}
          -P ${msi_dir}/winget.cmake
  DEPENDS tavoctl ${TAVOCTL_MANUAL_HTML} ${PROJECT_SOURCE_DIR}/LICENSE ${msi_dir}/tavoctl.wxs ${msi_dir}/msi.cmake
          ${msi_dir}/winget.cmake ${msi_dir}/winget/version.yaml.in ${msi_dir}/winget/locale.en-US.yaml.in
          ${msi_dir}/winget/installer.yaml.in
  COMMENT "Making tavoctl-${PROJECT_VERSION}-x64.msi and its winget manifests"
  VERBATIM)
add_custom_target(msi DEPENDS ${TAVOCTL_MSI} ${winget_dir}/TavoctlAuthors.tavoctl.installer.yaml)
