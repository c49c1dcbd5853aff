# Subsystem 3: text elements, font substitution, font services and the
# font thread over the platform text services (FreeType and friends).
kav_library(vorav_wintext DIRS VoRav/Win32/Text DEPS vorav_text platform_text)
kav_test(wintext_tests DIRS VoRav/Win32/Text DEPS vorav_wintext)
