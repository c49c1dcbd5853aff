# 2D effect generators: contour curves, drop shadows and button images. The
# shadow generator loads the object's picture through the show's file
# accessor, so the library sits above the file-access library.
kav_library(vorav_effects2d DIRS VoRav/Graphics/Effects2D DEPS vorav vorav_graphics kav_viewer)
kav_test(effects2d_tests DIRS VoRav/Graphics/Effects2D DEPS vorav_effects2d platform_d3d)
