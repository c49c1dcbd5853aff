# Subsystem 7: the player's main form and start-up, and the executable.
kav_library(kav_player DIRS Kav/KavViewer DEPS kav_engine kav_process)
kav_test(kav_player_tests DIRS Kav/KavViewer DEPS kav_player platform_d3d)
