# Subsystem 6: the show's music description, composite audio, and the music
# loader and player threads.
kav_library(kav_music DIRS KavLib2/KavMusic DEPS vorav_music kav_classes kav_engine)
kav_test(kav_music_tests DIRS KavLib2/KavMusic DEPS kav_music platform_sound_sdl)

# The tests that play in real time (threads, the SDL device's disk driver,
# timings measured on the wall clock) run alone, never beside other tests.
if(KAV_TESTS)
  file(GLOB audio_realtime_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/VoRav/Music/realtime/*.cpp
       ${PROJECT_SOURCE_DIR}/tests/KavLib2/KavMusic/realtime/*.cpp)
  add_executable(audio_realtime_tests ${audio_realtime_srcs})
  target_link_libraries(audio_realtime_tests PRIVATE kav_music platform_sound_sdl GTest::gtest GTest::gtest_main)
  target_compile_definitions(audio_realtime_tests PRIVATE KAV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(audio_realtime_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
