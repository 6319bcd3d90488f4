# Release packaging. `cpack -G DEB` in a Linux build makes the Debian package: the bundle in
# the OFX directory (NIMBRA_OFX_INSTALL_DIR, /usr/OFX/Plugins) and nimbra-render in /usr/bin.
# tools/package.sh runs it and also makes the zip with the Linux and Win64 modules.

# The version tools/package.sh names the zip with, so that project() is its only source.
file(WRITE "${PROJECT_BINARY_DIR}/nimbra-version.txt" "${PROJECT_VERSION}\n")

set(CPACK_PACKAGE_NAME nimbra)
set(CPACK_PACKAGE_VENDOR "Nimbra developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OpenFX effect that draws a plate behind text")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Nimbra is an OpenFX image-effect module for video editors and compositors. Its"
    "effect finds the text in a frame and draws a plate behind it (a rectangle with"
    "optional rounded corners, a fill and an outline), so that titles stay readable"
    "over any footage. OFX hosts find it in /usr/OFX/Plugins."
    "."
    "The package also holds nimbra-render, a command-line program that renders PNG"
    "and OpenEXR files through an OFX filter.")
set(CPACK_PACKAGE_CONTACT "Nimbra developers <nimbra@example.com>")
# Strips what install(TARGETS) installs (nimbra-render); the module, installed as part of its
# bundle directory, is stripped by the rule below.
set(CPACK_STRIP_FILES ON)

# A stripped install (cpack with CPACK_STRIP_FILES, cmake --install --strip) strips the module
# as the zip's is: symbols only the linker needed go, the dynamic export table stays. Install
# rules run in the order they are declared, so the bundle is in place by now.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_STRIP)
    set(nimbra_installed_module
        "${NIMBRA_OFX_INSTALL_DIR}/Nimbra_JP.ofx.bundle/Contents/${NIMBRA_BUNDLE_ARCH}/Nimbra_JP.ofx")
    if(NOT IS_ABSOLUTE "${NIMBRA_OFX_INSTALL_DIR}")
        set(nimbra_installed_module "\${CMAKE_INSTALL_PREFIX}/${nimbra_installed_module}")
    endif()
    install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                                    \"\$ENV{DESTDIR}${nimbra_installed_module}\"
                            RESULT_VARIABLE result)
            if(NOT result EQUAL 0)
                message(FATAL_ERROR \"cannot strip ${nimbra_installed_module}\")
            endif()
        endif()")
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
endif()
# The bundle's destination is an absolute path, so the files are staged under DESTDIR (else
# they would be installed into the real /usr/OFX/Plugins while packaging); the prefix for
# everything else is /usr, whatever the build's CMAKE_INSTALL_PREFIX.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# libpng, OpenEXR and the C/C++ runtimes, as dpkg-shlibdeps reads them off nimbra-render.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
