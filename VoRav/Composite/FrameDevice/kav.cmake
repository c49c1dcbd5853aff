# Subsystem 8: the control that places a 3D draw device inside a frame-control
# tree (on the 3D layer's draw device and the toolkit).
kav_library(vorav_frame_device DIRS VoRav/Composite/FrameDevice DEPS vorav_composite vorav_3d)
kav_test(vorav_frame_device_tests DIRS VoRav/Composite/FrameDevice DEPS vorav_frame_device platform_window_sdl)
