# Run by cpack after it has installed into its staging tree and before it
# packs it: turns `cmake --install`'s layout into Debian's where they differ.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(usr ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
if(NOT EXISTS ${usr}/bin/tavoctl)
  message(FATAL_ERROR "stage.cmake: no ${usr}/bin/tavoctl: the staging layout is not the expected one")
endif()
set(doc ${usr}/share/doc/tavoctl)

# Policy 12.5: the license goes into copyright, not into a file of its own.
file(REMOVE ${doc}/LICENSE)
file(COPY ${CPACK_TAVOCTL_PACKAGING_DIR}/deb/copyright DESTINATION ${doc})
file(COPY ${CPACK_TAVOCTL_PACKAGING_DIR}/deb/changelog DESTINATION ${doc})

# Policy 12.1 and 12.7: manual pages and changelogs compressed, with gzip -9n
# so that the package is the same from one build to the next.
foreach(file ${usr}/share/man/man1/tavoctl.1 ${doc}/changelog)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "stage.cmake: gzip ${file} failed")
  endif()
endforeach()
