# Subsystem 7: process services (single instance, the system screen saver,
# temporary folders) as a small library of their own, so the engine and the
# music loader can use them without the main form.
kav_library(kav_process DIRS KavLib2/KavProcess DEPS vorav)
kav_test(kav_process_tests DIRS KavLib2/KavProcess DEPS kav_process)
