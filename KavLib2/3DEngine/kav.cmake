# Subsystem 5: draw items, the device drawer and the 3D draw manager.
kav_library(kav_3dengine DIRS KavLib2/3DEngine DEPS vorav_3d vorav_graphics vorav_colorspace)
kav_test(kav_3dengine_tests DIRS KavLib2/3DEngine DEPS kav_3dengine platform_d3d kav_framedump)
