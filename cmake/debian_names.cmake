# Run by cpack once the files are staged: a Debian package keeps the
# changelog of its own packaging as changelog.Debian.gz, where a plain
# install has changelog.gz.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(doc "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/remap")
  file(RENAME "${doc}/changelog.gz" "${doc}/changelog.Debian.gz")
endif()
