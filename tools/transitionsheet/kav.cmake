# Test-only: transition configurations and test slides shared by the
# transition tests and benchmarks, and the contact-sheet tool
# (kavtranssheet OUTDIR: one PNG per kind).
if(KAV_TESTS OR KAV_BENCH)
  add_library(kav_transsheet STATIC ${PROJECT_SOURCE_DIR}/tools/transitionsheet/TransitionConfigs.cpp)
  target_include_directories(kav_transsheet PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(kav_transsheet PUBLIC kav_transitions)
  set_property(GLOBAL APPEND PROPERTY KAV_LIBRARIES kav_transsheet)
  add_executable(kavtranssheet ${PROJECT_SOURCE_DIR}/tools/transitionsheet/kavtranssheet.cpp)
  target_link_libraries(kavtranssheet PRIVATE kav_transsheet kav_framedump)
endif()
