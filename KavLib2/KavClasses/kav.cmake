# Subsystem 2: the show, slide and object model.
kav_library(kav_classes DIRS KavLib2/KavClasses
            DEPS vorav vorav_graphics vorav_colorspace kav_exif kav_effects kav_viewer)
kav_test(classes_tests DIRS KavLib2/KavClasses DEPS kav_classes kav_packer kav_fuzz)
