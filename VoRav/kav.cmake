# Subsystem 1: the core library.
kav_library(vorav DIRS VoRav VoRav/Win32 DEPS platform_display Threads::Threads ${CMAKE_DL_LIBS})
kav_test(vorav_tests DIRS VoRav VoRav/Win32 DEPS vorav kav_fuzz)
