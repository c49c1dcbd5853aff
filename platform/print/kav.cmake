# Platform: the print service. The contract and the fake backend use nothing
# of the system; the CUPS backend (PDF pages drawn with cairo) is a library of
# its own.
find_package(Cups REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(CAIRO_PDF REQUIRED IMPORTED_TARGET cairo-pdf)
kav_library(platform_print DIRS platform/print platform/print/fake)
kav_library(platform_print_cups DIRS platform/print/cups DEPS platform_print Cups::Cups PkgConfig::CAIRO_PDF)
kav_test(platform_print_tests DIRS platform/print DEPS platform_print platform_print_cups)
