# Subsystem 7: the overlay drawn over the slides (logo, navigation panel with
# its button and video bars, dialogs).
kav_library(kav_navpanel DIRS KavLib2/NavPanel DEPS kav_engine kav_viewer kav_3dengine kav_objects vorav_text)
kav_test(kav_navpanel_tests DIRS KavLib2/NavPanel DEPS kav_navpanel vorav_colorspace vorav_wintext kav_framedump platform_d3d)
if(KAV_TESTS)
  # Every frame once more drawn by the GL device (headless EGL on Mesa),
  # the golden frames among them.
  add_test(NAME kav_navpanel_tests_gl COMMAND kav_navpanel_tests)
  set_tests_properties(kav_navpanel_tests_gl PROPERTIES ENVIRONMENT "KAV_TEST_DEVICE=gl;SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy" TIMEOUT 300)
endif()
