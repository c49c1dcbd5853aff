# Subsystem 7: process services (single instance, the system screen saver,
# temporary folders) as a small library of their own, so the engine and the
# music loader can use them without the main form.
kav_library(kav_process DIRS KavLib2/KavProcess DEPS vorav)
if(KAV_SANITIZE)
  kav_test(kav_process_tests DIRS KavLib2/KavProcess DEPS kav_process ELSEWHERE MemoryPolicy.*)
else()
  kav_test(kav_process_tests DIRS KavLib2/KavProcess DEPS kav_process)
endif()
if(KAV_TESTS AND KAV_SANITIZE)
  # The heap policy tunes glibc's malloc, which a sanitizer build replaces
  # with its own: its tests run in a small program built without sanitizers.
  add_executable(kav_memory_policy_tests ${PROJECT_SOURCE_DIR}/tests/KavLib2/KavProcess/MemoryPolicyTest.cpp
                 ${PROJECT_SOURCE_DIR}/KavLib2/KavProcess/KavMemoryPolicy.cpp)
  target_include_directories(kav_memory_policy_tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(kav_memory_policy_tests PRIVATE -fno-sanitize=all)
  target_link_options(kav_memory_policy_tests PRIVATE -fno-sanitize=all)
  target_link_libraries(kav_memory_policy_tests PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(kav_memory_policy_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
