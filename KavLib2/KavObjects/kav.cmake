# Subsystem 2: the slide objects. They are draw items of the 3D layer, so
# they live apart from the show model (kav_classes), which the lower layers
# of the engine use without the 3D libraries.
kav_library(kav_objects DIRS KavLib2/KavObjects DEPS kav_classes kav_3dengine vorav_effects2d vorav_textout kav_exif kav_transitions)
kav_test(kav_objects_tests DIRS KavLib2/KavObjects DEPS kav_objects kav_framedump platform_d3d kav_packer kav_transsheet)
if(KAV_TESTS)
  # Every frame once more drawn by the GL device (headless EGL on Mesa),
  # the golden frames among them.
  add_test(NAME kav_objects_tests_gl COMMAND kav_objects_tests)
  set_tests_properties(kav_objects_tests_gl PROPERTIES ENVIRONMENT "KAV_TEST_DEVICE=gl;SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy" TIMEOUT 300)
endif()
