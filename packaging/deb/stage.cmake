# Run by cpack after it has installed each package's files into its staging
# tree (one per component) and before it packs them: turns `cmake --install`'s
# layout into Debian's where they differ.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(staged ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(packaging ${CPACK_TAVOCTL_PACKAGING_DIR})
if(NOT EXISTS ${staged}/tavoctl/usr/bin/tavoctl)
  message(FATAL_ERROR "stage.cmake: no ${staged}/tavoctl/usr/bin/tavoctl: the staging layout is not the expected one")
endif()

# Policy 12.1 and 12.7: manual pages and changelogs compressed, with gzip -9n
# so that each package is the same from one build to the next.
function(compress file)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "stage.cmake: gzip ${file} failed")
  endif()
endfunction()

# Policy 12.5: the license goes into copyright, not into a file of its own.
set(doc ${staged}/tavoctl/usr/share/doc/tavoctl)
file(REMOVE ${doc}/LICENSE)
file(COPY ${packaging}/deb/copyright ${packaging}/deb/changelog DESTINATION ${doc})
compress(${staged}/tavoctl/usr/share/man/man1/tavoctl.1)
compress(${doc}/changelog)

if(EXISTS ${staged}/lirc)
  set(doc ${staged}/lirc/usr/share/doc/tavoctl-lirc)
  file(MAKE_DIRECTORY ${doc})
  file(COPY ${packaging}/lirc/copyright ${packaging}/lirc/changelog DESTINATION ${doc})
  compress(${doc}/changelog)
endif()

if(EXISTS ${staged}/mqtt)
  set(doc ${staged}/mqtt/usr/share/doc/tavoctl-mqtt)
  file(MAKE_DIRECTORY ${doc})
  file(COPY ${packaging}/mqtt/copyright ${packaging}/mqtt/changelog DESTINATION ${doc})
  compress(${doc}/changelog)
  compress(${staged}/mqtt/usr/share/man/man8/tavoctl-mqtt.8)
endif()
