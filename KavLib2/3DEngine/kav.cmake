# Subsystem 5: draw items, the device drawer and the 3D draw manager.
kav_library(kav_3dengine DIRS KavLib2/3DEngine DEPS vorav_3d vorav_graphics vorav_colorspace)
kav_test(kav_3dengine_tests DIRS KavLib2/3DEngine DEPS kav_3dengine platform_d3d kav_framedump)
if(KAV_TESTS)
  # The video programs' span forms once more without AVX2.
  add_test(NAME kav_3dengine_sse2_kernels COMMAND kav_3dengine_tests --gtest_filter=DrawShaders.*)
  set_tests_properties(kav_3dengine_sse2_kernels PROPERTIES ENVIRONMENT KAV_D3D_NO_AVX2=1)
endif()
