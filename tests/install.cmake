# The install checks, consumer builds and manual page need the build machine's
# shell and tools: they run with the native build only.
if(WIN32)
  return()
endif()

# The installed tree must serve other projects: each test installs this build
# into a temporary prefix and builds the consumer of tests/consumer against it,
# once through pkg-config and once through find_package(keltools).
foreach(mode pkg-config find-package)
  string(REPLACE "-" "_" test_name "install_${mode}")
  add_test(NAME ${test_name}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.sh ${mode} ${PROJECT_BINARY_DIR}
            ${PROJECT_VERSION} ${CMAKE_COMMAND} ${CMAKE_C_COMPILER} ${CMAKE_CXX_COMPILER})
  # Both installs write the build tree's install manifest: one at a time.
  set_tests_properties(${test_name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
    RESOURCE_LOCK keltools_install)
endforeach()

# The manual page must render without a single formatter warning (`man ./varnock.1`).
add_test(NAME manual_page COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/manual_page.sh ${PROJECT_SOURCE_DIR}/varnock.1)
set_tests_properties(manual_page PROPERTIES SKIP_RETURN_CODE 77)
