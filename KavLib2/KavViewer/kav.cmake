# Subsystem 2: show file access (the packed show container and its streams,
# file sources, the file accessor and the image-handle cache).
find_package(ZLIB REQUIRED)
kav_library(kav_viewer DIRS KavLib2/KavViewer DEPS vorav vorav_graphics ZLIB::ZLIB)
kav_test(kav_viewer_tests DIRS KavLib2/KavViewer DEPS kav_viewer kav_packer kav_fuzz)
