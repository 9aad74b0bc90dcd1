# The install and the Debian package, checked from this build: staged installs
# stay inside their stage; the package holds what it should and passes lintian.
add_test(NAME Install.StagedUnderPrefix
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${CMAKE_BINARY_DIR} prefix)
add_test(NAME Install.StagedUnderDestdir
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${CMAKE_BINARY_DIR} destdir)
add_test(NAME Package.Debian COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(Package.Debian PROPERTIES TIMEOUT 600)
