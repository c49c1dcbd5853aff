# Subsystem 5: transition filters, the effect tiles they draw through, the
# Direct3D effecter and the transition factory (above the draw manager and
# the show's transition descriptions).
kav_library(kav_transitions DIRS KavLib2/3DEngine/Transitions DEPS kav_3dengine kav_classes)
kav_test(transitions_tests DIRS KavLib2/3DEngine/Transitions DEPS kav_transitions kav_transsheet platform_d3d kav_framedump)
