# Subsystem 5: the display driver's per-application values (over the
# registry gate), a library of its own beside the 3D layer.
kav_library(vorav_driver_values DIRS VoRav/3DBasics/DriverValues DEPS vorav)
kav_test(vorav_driver_values_tests DIRS VoRav/3DBasics/DriverValues DEPS vorav_driver_values)
