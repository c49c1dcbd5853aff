// The fuzz entry points of the project text's parsers over their seed
// corpora, the kept crash inputs, every cut of each and single-byte changes.
#include <gtest/gtest.h>

#include "../../VoRav/Graphics/FuzzSeeds.h"
#include "tools/fuzz/FuzzTargets.h"

using kav::test::RunFuzzSeeds;

TEST(ClassesFuzzCorpus, TextForms) {
  EXPECT_GE(RunFuzzSeeds("actions", &kav::FuzzObjectAction), 6);
  EXPECT_GE(RunFuzzSeeds("values", &kav::FuzzValueParsers), 8);
  EXPECT_GE(RunFuzzSeeds("macros", &kav::FuzzTextMacros), 6);
}

TEST(ClassesFuzzCorpus, ProjectTexts) {
  EXPECT_GE(RunFuzzSeeds("project", &kav::FuzzEffManager), 4);
  EXPECT_GE(RunFuzzSeeds("project", &kav::FuzzKavSource), 4);
}
