# Subsystem 2: video frame extraction and the clip holders of the slides'
# video objects.
kav_library(kav_video DIRS KavLib2/KavVideo DEPS vorav_video kav_objects kav_viewer)
kav_test(kav_video_tests DIRS KavLib2/KavVideo DEPS kav_video platform_d3d kav_framedump)
