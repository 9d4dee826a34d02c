# Debian packages:
#   oxlenpay-strova-plugin  the plug-in, the example configuration and the
#                           documentation; a shop's host brings every library
#                           of its own that the plug-in needs;
#   oxlenpay-strova-tools   oxlenpay-till, oxlenpay-sandbox and our stand-ins of
#                           the host's libraries, in a directory of their own.
#   oxlenpay-strova-dbg     the debug information of both, by build id; the
#                           binaries of the other two are stripped.
# Build: (cd build && cpack).
set(OXLENPAY_PLUGIN_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/oxlenpay-strova-plugin)
set(OXLENPAY_TOOLS_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/oxlenpay-strova-tools)
set(OXLENPAY_DEBUG_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/oxlenpay-strova-dbg)

# Changelog and manual pages go in compressed, reproducibly (no name, no time).
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${packaging_out}/changelog @ONLY)
set(compressed)
foreach(source ${packaging_out}/changelog ${PROJECT_SOURCE_DIR}/docs/man/oxlenpay-till.1
        ${PROJECT_SOURCE_DIR}/docs/man/oxlenpay-sandbox.1)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${packaging_out}/${name}.gz
        COMMAND gzip -9nc ${source} > ${packaging_out}/${name}.gz
        DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${packaging_out}/${name}.gz)
endforeach()
add_custom_target(oxlenpay-packaging-files ALL DEPENDS ${compressed})

foreach(component plugin tools debug)
    string(TOUPPER ${component} upper)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${packaging_out}/changelog.gz
        DESTINATION ${OXLENPAY_${upper}_DOCDIR} COMPONENT ${component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${OXLENPAY_PLUGIN_DOCDIR} COMPONENT plugin)
install(FILES ${PROJECT_SOURCE_DIR}/oxlenpay.conf.example
    DESTINATION ${OXLENPAY_PLUGIN_DOCDIR}/examples COMPONENT plugin)
install(FILES ${PROJECT_SOURCE_DIR}/sandbox/README.md
    DESTINATION ${OXLENPAY_TOOLS_DOCDIR} RENAME README.sandbox.md COMPONENT tools)
install(FILES ${packaging_out}/oxlenpay-till.1.gz ${packaging_out}/oxlenpay-sandbox.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
# Recovery of the journal every few minutes as the host's user: shipped, never enabled by the
# package (systemctl enable --now oxlenpay-recover@USER.timer).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/oxlenpay-recover@.service
    ${CMAKE_CURRENT_LIST_DIR}/systemd/oxlenpay-recover@.timer
    DESTINATION lib/systemd/system COMPONENT tools)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME oxlenpay-strova-tools
    COMPONENT tools)

set(debug_binaries $<TARGET_FILE:ProcessingOxlenPay> $<TARGET_FILE:oxlenpay-till>
    $<TARGET_FILE:oxlenpay-sandbox>)
foreach(library strovatr strovaconfig strovanetwork log4qt)
    if(TARGET ${library})
        list(APPEND debug_binaries $<TARGET_FILE:${library}>)
    endif()
endforeach()
install(CODE "set(OXLENPAY_BINARIES \"${debug_binaries}\")" COMPONENT debug)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/debugsymbols.cmake COMPONENT debug)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL plugin tools debug)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME oxlenpay-strova)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Oxlen Pay for Strova")
set(CPACK_PACKAGE_CONTACT "Oxlen Pay for Strova developers <dev@oxlenpay.example>")
# No common summary: CPack would put it above each package's own first line, its synopsis.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://oxlenpay.example/strova")
# Dependencies come from the binaries themselves (dpkg-shlibdeps); the stand-ins
# are found in the build tree, where no package owns them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/host/tr ${CMAKE_BINARY_DIR}/host/config
    ${CMAKE_BINARY_DIR}/host/network ${CMAKE_BINARY_DIR}/host/log4qt)

# The tools' maintainer scripts: removal stops and disables the recovery timers enabled from
# the shipped unit; purge removes what enabling left behind, never the configuration or the
# journal.
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME oxlenpay-strova-plugin)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_PLUGIN_DESCRIPTION "Oxlen Pay wallet payment plug-in for the Strova till
The payment plug-in libProcessingOxlenPay.so takes wallet payments,
refunds and cancels them and forwards the fiscal receipt link over the
provider's merchant API. The till's host application brings the libraries
the plug-in uses.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME oxlenpay-strova-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "oxlenpay-strova-plugin (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "command-line till and provider sandbox for the Oxlen Pay plug-in
Tools to try, test and support the Oxlen Pay plug-in: oxlenpay-till loads it
the way a till does and finishes its journal (a systemd timer runs its
recovery), oxlenpay-sandbox stands in for the provider, and
stand-ins of the host's libraries let both run without the host.")

set(CPACK_DEBIAN_DEBUG_PACKAGE_NAME oxlenpay-strova-dbg)
set(CPACK_DEBIAN_DEBUG_PACKAGE_SECTION debug)
set(CPACK_DEBIAN_DEBUG_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEBUG_PACKAGE_DEPENDS
    "oxlenpay-strova-plugin (= ${PROJECT_VERSION}), oxlenpay-strova-tools (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEBUG_DESCRIPTION "debug symbols for the Oxlen Pay plug-in and its tools
The plug-in, oxlenpay-till, oxlenpay-sandbox and the stand-ins of the host's
libraries are packaged stripped; gdb finds their debug information here by
build id.")
include(CPack)
