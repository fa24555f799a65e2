# The installed system: layout, service units, the boot configuration
# scripts, the default settings file and the Debian package.
set(pqw_pkg_tests ${CMAKE_SOURCE_DIR}/tests/packaging)

pqw_add_test(default_conf_test ${pqw_pkg_tests}/default_conf_test.cc)
target_compile_definitions(
  default_conf_test
  PRIVATE PQW_DEFAULT_CONF="${CMAKE_SOURCE_DIR}/packaging/pelquarinthos-wired.conf")

set(pqw_pkg_programs "")
foreach(prog pelquarinthos-wired pqw-hud pqw-viewer pqw-camsim pqw-decode pqw-web)
  if(TARGET ${prog})
    list(APPEND pqw_pkg_programs ${prog})
  endif()
endforeach()
string(JOIN " " pqw_pkg_programs_text ${pqw_pkg_programs})

add_test(NAME packaging_install
         COMMAND bash ${pqw_pkg_tests}/install_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}
                 "${pqw_pkg_programs_text}")
add_test(NAME packaging_units COMMAND bash ${pqw_pkg_tests}/unit_test.sh ${CMAKE_BINARY_DIR})
add_test(NAME packaging_boot_scripts
         COMMAND bash ${pqw_pkg_tests}/boot_scripts_test.sh ${CMAKE_SOURCE_DIR})
add_test(NAME packaging_deb COMMAND bash ${pqw_pkg_tests}/deb_test.sh ${CMAKE_BINARY_DIR})
# Misaligned multi-byte reads that -Wcast-align=strict cannot see.
add_test(NAME align_lint COMMAND bash ${pqw_pkg_tests}/align_lint_test.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(align_lint PROPERTIES LABELS lint)
set_tests_properties(default_conf_test packaging_install packaging_units
                     packaging_boot_scripts packaging_deb PROPERTIES LABELS packaging)
set_tests_properties(packaging_install packaging_units packaging_boot_scripts packaging_deb
                     PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# cpack and lintian take a minute on a loaded machine.
set_tests_properties(packaging_deb PROPERTIES TIMEOUT 360)
# Both install from this build tree (and rewrite its install_manifest.txt).
set_tests_properties(packaging_install packaging_deb PROPERTIES RESOURCE_LOCK pqw_build_install)
