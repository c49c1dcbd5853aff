# Subsystem 4: the draw device bound to a form's window (on the 3D layer's
# draw device, which itself builds on the application layer).
kav_library(vorav_form_device DIRS VoRav/Application2/FormDevice DEPS vorav_app vorav_3d)
kav_test(vorav_form_device_tests DIRS VoRav/Application2/FormDevice DEPS vorav_form_device)
