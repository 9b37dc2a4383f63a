# The Debian package (make package): the library, the headers, tarvo.pc,
# the CMake package, the tools and their man pages, under /usr. Its
# dependencies are those of the library's and the tools' binaries, as
# dpkg-shlibdeps finds them; the triggers file has dpkg rebuild the
# loader's cache.
set(TARVO_MAINTAINER "Tarvo developers <developers@tarvo.invalid>"
    CACHE STRING "Maintainer of the Debian package")
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tarvo)
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(CONFIGURE OUTPUT debian/changelog CONTENT "tarvo (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${TARVO_MAINTAINER}  ${changelog_date}
")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${doc_dir})
tarvo_install_gzipped(${PROJECT_BINARY_DIR}/debian/changelog ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TARVO_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "driver library for pxr serial-line data-acquisition modules")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvo is an in-process COM server, libtarvo.so.1 on Linux, that drives the pxr
module families over RS-232 and RS-485 lines. A host program creates one
driver object per family and reads and writes plant values through the
IIoDriver interface. The package holds the library, its C and C++ headers,
tarvo.pc for pkg-config, a CMake package (Tarvo::tarvo), the command-line
host tarvo-poll and the module simulator pxrsim.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The files are installed under DESTDIR with the prefix /usr, so that
# tarvo.pc names /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
include(CPack)
