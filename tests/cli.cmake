krl_test(cli_test cli_test.cpp)
target_link_libraries(cli_test PRIVATE krl_cli krl_board)

# The command-line program must not need a display server's libraries.
if(NOT WIN32)
  add_test(NAME cli_links_qt_core_only
           COMMAND sh -c "ldd \"$0\" | grep -q libQt6Core && ! ldd \"$0\" | grep -E 'libQt6(Widgets|Gui)'"
                   $<TARGET_FILE:krl7741>)
endif()
