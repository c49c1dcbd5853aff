# Platform: the window and message layer with its null backend.
kav_library(platform_window DIRS platform/window platform/window/null DEPS vorav Threads::Threads)
kav_test(platform_window_tests DIRS platform/window DEPS platform_window)
