# Subsystem 4: event lists, the window gate, hooks, input decoding, the
# application object, forms, timers and helper windows, over the window layer.
kav_library(vorav_app DIRS VoRav/Application2 DEPS vorav platform_window)
kav_test(vorav_app_tests DIRS VoRav/Application2 DEPS vorav_app)
