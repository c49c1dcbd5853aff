# Subsystem 7: the printer (the installed printers, the current one, its
# settings and the document calls) over the print service of platform/print.
kav_library(kav_print DIRS KavLib2/KavPrint DEPS vorav_graphics platform_print)
kav_test(kav_print_tests DIRS KavLib2/KavPrint DEPS kav_print platform_print_cups)
if(KAV_TESTS)
  # The tests' private CUPS scheduler as a program, for the player's print
  # test in an X server.
  add_executable(kavtestcups ${PROJECT_SOURCE_DIR}/tests/tools/kavtestcups.cpp)
  target_include_directories(kavtestcups PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(kavtestcups PRIVATE platform_print_cups)
endif()
