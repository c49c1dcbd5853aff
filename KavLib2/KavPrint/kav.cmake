# Subsystem 7: the printer (the installed printers, the current one, its
# settings and the document calls) over the print service of platform/print.
kav_library(kav_print DIRS KavLib2/KavPrint DEPS vorav_graphics platform_print)
kav_test(kav_print_tests DIRS KavLib2/KavPrint DEPS kav_print platform_print_cups)
