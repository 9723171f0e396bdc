# Install rules and the Debian packages (cpack -G DEB).
#
# Two packages:
#   obx-agent   orsa-host, the component, the peer-to-peer composite, the
#               platform library, orsa-reg, orsa-seal, obx-inspect, the
#               systemd unit, the default settings and the operator's documents.
#   obx-server  the reference management server, for a lab or a test bench;
#               an endpoint never needs it, and it listens on the network.
#
# Each package keeps its programs in a folder of its own under /usr/lib with
# the build tree's shape (bin/ beside lib/), so every program finds its
# libraries through an $ORIGIN-relative RPATH wherever the tree is unpacked,
# and orsa-host finds libobxconsole.so in ../lib as it does in the build tree.
# The commands operators type are links in /usr/bin and /usr/sbin.
#
# Paths are relative to the install prefix, which is "/" for the package.

set(OBX_AGENT_DIR usr/lib/orsa)
set(OBX_SERVER_DIR usr/lib/obx-server)
set(OBX_DOC_DIR usr/share/doc/obx-agent)

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX / CACHE PATH "Install prefix; the package layout is rooted at /" FORCE)
endif()

# RPATHs: the build tree keeps its absolute ones; the installed files get
# paths relative to their own folder.
set_target_properties(orsa-host orsa-reg orsa-seal obx-inspect obx-server
                      PROPERTIES INSTALL_RPATH "\$ORIGIN/../lib")
set_target_properties(obxconsole obx_platform PROPERTIES INSTALL_RPATH "\$ORIGIN")
set_target_properties(orsap2p PROPERTIES INSTALL_RPATH "\$ORIGIN/../lib")

# The composite manifest of the peer-to-peer service, sealed by orsa-host
# itself. The manifest names its library relative to the composite file, so
# it is made next to a copy of the library, as the two lie in the package.
set(OBX_COMPOSITE_STAGE ${PROJECT_BINARY_DIR}/package-stage/Components)
set(OBX_COMPOSITE_FILE ${OBX_COMPOSITE_STAGE}/orsap2p.composite)
if(NOT CMAKE_CROSSCOMPILING)
  add_custom_command(
    OUTPUT ${OBX_COMPOSITE_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${OBX_COMPOSITE_STAGE}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:orsap2p> ${OBX_COMPOSITE_STAGE}/liborsap2p.so
    COMMAND orsa-host --make-composite ${OBX_COMPOSITE_FILE} --library liborsap2p.so
            --service orsa::net::IP2pDownload
    DEPENDS orsa-host orsap2p
    COMMENT "Sealing the peer-to-peer composite manifest"
    VERBATIM)
  add_custom_target(obx_p2p_composite ALL DEPENDS ${OBX_COMPOSITE_FILE})
endif()

# --- obx-agent ---------------------------------------------------------------
install(TARGETS orsa-host orsa-reg orsa-seal obx-inspect
        RUNTIME DESTINATION ${OBX_AGENT_DIR}/bin COMPONENT agent)
install(TARGETS obxconsole obx_platform
        LIBRARY DESTINATION ${OBX_AGENT_DIR}/lib COMPONENT agent)
install(TARGETS orsap2p LIBRARY DESTINATION ${OBX_AGENT_DIR}/Components COMPONENT agent)
install(FILES ${OBX_COMPOSITE_FILE} DESTINATION ${OBX_AGENT_DIR}/Components COMPONENT agent)

# Links for the commands; made in the build tree and installed as links.
set(OBX_LINK_STAGE ${PROJECT_BINARY_DIR}/package-stage/links)
function(obx_install_link folder name target component)
  file(MAKE_DIRECTORY ${OBX_LINK_STAGE}/${folder})
  file(CREATE_LINK ${target} ${OBX_LINK_STAGE}/${folder}/${name} SYMBOLIC)
  install(FILES ${OBX_LINK_STAGE}/${folder}/${name} DESTINATION ${folder} COMPONENT ${component})
endfunction()
obx_install_link(usr/sbin orsa-host ../lib/orsa/bin/orsa-host agent)
foreach(tool orsa-reg orsa-seal obx-inspect)
  obx_install_link(usr/bin ${tool} ../lib/orsa/bin/${tool} agent)
endforeach()

set(OBX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${OBX_PACKAGING_DIR}/orsa-host.service DESTINATION lib/systemd/system
        COMPONENT agent)
install(FILES ${OBX_PACKAGING_DIR}/obx-agent.reg DESTINATION usr/share/orsa COMPONENT agent)
# The operator's documents, the same in both packages: they link only each
# other, so every link works where they are installed.
set(OBX_DOCS ${PROJECT_SOURCE_DIR}/docs/glossary.md ${PROJECT_SOURCE_DIR}/docs/operating.md
             ${PROJECT_SOURCE_DIR}/docs/policy.md ${PROJECT_SOURCE_DIR}/docs/server.md
             ${OBX_PACKAGING_DIR}/copyright)
install(FILES ${OBX_DOCS} DESTINATION ${OBX_DOC_DIR} COMPONENT agent)

# --- obx-server --------------------------------------------------------------
# It carries its own copy of the platform library, so that installing the
# server does not bring the agent and its service along.
install(TARGETS obx-server RUNTIME DESTINATION ${OBX_SERVER_DIR}/bin COMPONENT server)
install(TARGETS obx_platform LIBRARY DESTINATION ${OBX_SERVER_DIR}/lib COMPONENT server)
obx_install_link(usr/bin obx-server ../lib/obx-server/bin/obx-server server)
install(FILES ${OBX_DOCS} ${PROJECT_SOURCE_DIR}/tools/obx-server/obx.wsdl
              ${PROJECT_SOURCE_DIR}/tools/obx-server/nginx.conf
        DESTINATION usr/share/doc/obx-server COMPONENT server)

# --- CPack -------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME obx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_PACKAGE_CONTACT "OBX agent developers <obx-dev@localhost>" CACHE STRING
    "Maintainer field of the Debian packages")
set(CPACK_COMPONENTS_ALL agent server)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# Dependencies from the libraries the files link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME obx-agent)
# The host loads libcurl for each transfer instead of linking it, so the
# library search above cannot see it.
set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS "libcurl4")
set(CPACK_COMPONENT_AGENT_DESCRIPTION "Patch agent: orsa-host, the OBX component and its tools
Runs patch cycles against a management server: pulls the patch policy,
downloads and runs each task's programs and reports the results.")
set(CPACK_DEBIAN_AGENT_PACKAGE_CONTROL_EXTRA
    ${OBX_PACKAGING_DIR}/postinst ${OBX_PACKAGING_DIR}/prerm ${OBX_PACKAGING_DIR}/postrm)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME obx-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "Reference management server of the OBX patch agent
Serves patch policies and a download repository over HTTP and records
the agents' reports in SQLite; for labs and tests.")

include(CPack)
