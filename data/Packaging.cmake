# The Debian package: `cpack -G DEB` in the build folder makes
# vellumcast_<version>_<arch>.deb from what `cmake --install` installs.
set(CPACK_PACKAGE_NAME vellumcast)
set(CPACK_PACKAGE_VENDOR Quillmark)
set(CPACK_PACKAGE_CONTACT "Quillmark <support@quillmark.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract text from every message of an IMAP mail folder")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vellumcast)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quillmark.example/)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 Vellumcast signs in to an IMAP mail account over TLS, reads every message of one
 folder and lists what a rule extracts from each message: all sender, date,
 subject and body lines, the lines that contain a text or do not, the lines at
 given numbers, every piece of text between two markers, or the lines that match
 a set of texts. Ticked rows are copied to the clipboard in three layouts; all
 rows can be saved as text or as one comma-delimited line.
 .
 vellumcast-cli runs the same extraction without a window.")
# Library dependencies come from dpkg-shlibdeps. Qt loads its TLS back end at run
# time, and that one needs OpenSSL's library, which no binary links directly.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, iputils-ping, fonts-liberation")
set(CPACK_GENERATOR DEB)
include(CPack)
