# Subsystem 2: the show, slide and object model.
kav_library(kav_classes DIRS KavLib2/KavClasses DEPS vorav vorav_graphics kav_exif)
kav_test(classes_tests DIRS KavLib2/KavClasses DEPS kav_classes)
