# Subsystem 3: vector paths, path text, flattening and the scanline rasterizer.
kav_library(vorav_vector DIRS VoRav/VectorGraphics DEPS vorav_graphics)
# The rasterizer's tests compare coverage with cairo filling the same paths;
# cairo is linked to the test program only.
if(KAV_TESTS)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
endif()
kav_test(vector_tests DIRS VoRav/VectorGraphics DEPS vorav_vector PkgConfig::CAIRO)
