# Subsystem 7: the worker-thread base of the engine, the slide loader and the
# music threads, the engine's road to the GUI thread, the action record, the
# frame interpolator, the draw controller, the root draw item and the slide
# loader.
kav_library(kav_engine DIRS KavLib2/KavEngine DEPS vorav_app vorav_form_device kav_3dengine kav_classes kav_process)
kav_test(kav_engine_tests DIRS KavLib2/KavEngine DEPS kav_engine platform_d3d kav_packer)
