# Subsystem 4: event lists, the application object, forms, timers, hooks and
# input decoding, over the window layer.
kav_library(vorav_app DIRS VoRav/Application2 DEPS vorav)
kav_test(vorav_app_tests DIRS VoRav/Application2 DEPS vorav_app)
