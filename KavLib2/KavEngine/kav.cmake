# Subsystem 7: the worker-thread base of the engine, the slide loader and the
# music threads, and the engine's road to the GUI thread.
kav_library(kav_engine DIRS KavLib2/KavEngine DEPS vorav_app)
kav_test(kav_engine_tests DIRS KavLib2/KavEngine DEPS kav_engine)
