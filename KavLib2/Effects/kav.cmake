# Subsystem 5: the transition-effect manager and, later, the transition filters.
kav_library(kav_effects DIRS KavLib2/Effects DEPS vorav)
kav_test(effects_tests DIRS KavLib2/Effects DEPS kav_effects)
