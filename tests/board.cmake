krl_test(board_test board_test.cpp)
target_link_libraries(board_test PRIVATE krl_board)
