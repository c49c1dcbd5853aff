# Subsystem 5: the abstract 3D classes, their realisation on the software
# device, the 3D screen and its textures, the render-target pool and tiling.
kav_library(vorav_3d DIRS VoRav/3DBasics DEPS vorav vorav_graphics platform_d3d vorav_app)
kav_test(vorav_3d_tests DIRS VoRav/3DBasics DEPS vorav_3d platform_window)
