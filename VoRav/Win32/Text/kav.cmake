# Subsystem 3: text elements, font substitution, font services and the
# font thread over the platform text services (FreeType and friends).
kav_library(vorav_wintext DIRS VoRav/Win32/Text DEPS vorav_text platform_text)
kav_test(wintext_tests DIRS VoRav/Win32/Text DEPS vorav_wintext)
# Pango is the outside reference of the bidirectional line tests.
if(KAV_TESTS)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KAV_TEST_PANGOFT2 REQUIRED IMPORTED_TARGET pangoft2)
  target_link_libraries(wintext_tests PRIVATE PkgConfig::KAV_TEST_PANGOFT2)
endif()
