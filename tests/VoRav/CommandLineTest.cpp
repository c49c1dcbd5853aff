#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VoRav/vxCommandLine.h"

using namespace kav;

namespace {

std::vector<std::u16string> Values(const TCommand* command) {
  std::vector<std::u16string> out;
  for (int32_t i = 0; command && i < command->ValueCount(); ++i) out.push_back(command->GetValue(i)->Text());
  return out;
}

std::vector<std::u16string> Texts(const TStringList& list) {
  std::vector<std::u16string> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.GetString(i));
  return out;
}

}  // namespace

TEST(CommandLine, TokensQuotesAndSwitches) {
  auto tokens = MakeRef<TStringList>();
  auto store = MakeRef<TCommandsStorage>();
  ParseCommandLine(u"  \"C:\\Program Files\\Show.exe\"\tfirst -FileName \"My Show\\a b.kvshow\" -a b c -d "
                   u"-A x\"y z\"w \"\" -slide 12 -time abc",
                   tokens.get(), store.get());
  EXPECT_EQ(Texts(*tokens),
            (std::vector<std::u16string>{u"C:\\Program Files\\Show.exe", u"first", u"-FileName",
                                         u"My Show\\a b.kvshow", u"-a", u"b", u"c", u"-d", u"-A", u"xy zw", u"",
                                         u"-slide", u"12", u"-time", u"abc"}));
  EXPECT_EQ(Values(store->FindCommand(u"")), (std::vector<std::u16string>{u"C:\\Program Files\\Show.exe", u"first"}));
  EXPECT_EQ(Values(store->FindCommand(u"filename")), (std::vector<std::u16string>{u"My Show\\a b.kvshow"}));
  EXPECT_EQ(store->FindCommand(u"FileName"), nullptr);
  // A switch given twice collects both sets of values.
  EXPECT_EQ(Values(store->FindCommand(u"a")), (std::vector<std::u16string>{u"b", u"c", u"xy zw"}));
  ASSERT_NE(store->FindCommand(u"d"), nullptr);
  EXPECT_EQ(store->FindCommand(u"d")->ValueCount(), 0);
  EXPECT_EQ(store->FindCommand(u"d")->GetValue(0), nullptr);
  EXPECT_TRUE(store->Contains(u"slide"));
  EXPECT_EQ(store->FindCommand(u"slide")->GetValue(0)->GetIntDef(-1), 12);
  EXPECT_EQ(store->FindCommand(u"time")->GetValue(0)->GetIntDef(-1), -1);
  EXPECT_FALSE(store->Contains(u"log"));

  // Either target may be missing; an empty line gives nothing.
  ParseCommandLine(u"-only", nullptr, store.get());
  EXPECT_TRUE(store->Contains(u"only"));
  ParseCommandLine(u"   ", tokens.get(), nullptr);
  EXPECT_EQ(tokens->Count(), 15);
}

TEST(CommandLine, ProcessArgumentsAreTakenAsTheyStand) {
  const char* argv[] = {"/opt/show/player", "-Slide", "3", "-FILENAME", "/home/u/My \"Show\"/Project.kav",
                        "-\xC3\x84rger", "bad\xFF"};
  InitCommandLine(7, argv);
  TCommandsStorage* store = CommandLineCommands();
  EXPECT_EQ(Values(store->FindCommand(u"")), (std::vector<std::u16string>{u"/opt/show/player"}));
  EXPECT_EQ(store->FindCommand(u"slide")->GetValue(0)->GetIntDef(0), 3);
  EXPECT_EQ(Values(store->FindCommand(u"filename")), (std::vector<std::u16string>{u"/home/u/My \"Show\"/Project.kav"}));
  EXPECT_EQ(Values(store->FindCommand(u"\u00E4rger")), (std::vector<std::u16string>{u"bad\uFFFD"}));
  EXPECT_EQ(CommandLineTokens()->Count(), 7);

  // A second start-up replaces the first.
  const char* again[] = {"player", "-log"};
  InitCommandLine(2, again);
  EXPECT_EQ(CommandLineTokens()->Count(), 2);
  EXPECT_FALSE(store->Contains(u"slide"));
  EXPECT_TRUE(store->Contains(u"log"));
}
