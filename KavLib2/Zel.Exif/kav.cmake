# Subsystem 3: EXIF and IPTC metadata.
kav_library(kav_exif DIRS KavLib2/Zel.Exif DEPS vorav)
kav_test(exif_tests DIRS KavLib2/Zel.Exif DEPS kav_exif)
