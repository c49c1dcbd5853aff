# Subsystem 7: the dialogs through which a slide is printed or saved; the
# file-save dialog asks the desktop's chooser (platform/dialogs).
kav_library(kav_dialogs DIRS KavLib2/KavDialogs DEPS vorav_app platform_dialogs platform_window)
kav_test(kav_dialogs_tests DIRS KavLib2/KavDialogs DEPS kav_dialogs)
