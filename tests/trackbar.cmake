add_executable(trackbar_test trackbar_test.cpp)
target_link_libraries(trackbar_test PRIVATE krl_controls Qt6::Test GTest::gtest)
gtest_discover_tests(trackbar_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen DISCOVERY_TIMEOUT 60)
