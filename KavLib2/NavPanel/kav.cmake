# Subsystem 7: the overlay drawn over the slides (logo, navigation panel with
# its button and video bars, dialogs).
kav_library(kav_navpanel DIRS KavLib2/NavPanel DEPS kav_engine kav_viewer kav_3dengine kav_objects vorav_text)
kav_test(kav_navpanel_tests DIRS KavLib2/NavPanel DEPS kav_navpanel vorav_colorspace vorav_wintext kav_framedump platform_d3d)
