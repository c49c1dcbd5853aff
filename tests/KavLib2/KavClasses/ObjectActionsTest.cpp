#include <gtest/gtest.h>

#include "KavLib2/KavClasses/KavObjectActions.h"

using namespace kav;

namespace {
TObjectAction Rec(int32_t kind, int32_t index = 0, std::u16string arg = {}) {
  TObjectAction r;
  SetObjectAction(r, kind, index, arg);
  return r;
}
}  // namespace

TEST(ObjectActions, PlainKeywordsMatchWholeTextIgnoringCase) {
  EXPECT_EQ(ParseObjectAction(u"NEXTSLIDE"), Rec(kActionNextSlide));
  EXPECT_EQ(ParseObjectAction(u"nextslide "), TObjectAction{});
  EXPECT_EQ(ParseObjectAction(u"PrevSlide"), Rec(kActionPrevSlide));
  EXPECT_EQ(ParseObjectAction(u"gotofirstslide"), Rec(kActionGotoSlide, 0));
  EXPECT_EQ(ParseObjectAction(u"stop"), Rec(kActionStop));
  EXPECT_EQ(ParseObjectAction(u"closedialog"), Rec(kActionCloseDialog));
  EXPECT_EQ(ParseObjectAction(u"changeprinter"), Rec(kActionChangePrinter));
  EXPECT_EQ(ParseObjectAction(u""), TObjectAction{});
  EXPECT_EQ(ParseObjectAction(u"exit()"), TObjectAction{});

  // Keyword codes are not the action kinds.
  std::u16string arg = u"stale";
  EXPECT_EQ(ActionKeywordToCode(u"pause", arg), 7);
  EXPECT_EQ(arg, u"");
  EXPECT_EQ(ActionKeywordToCode(u"print", arg), 11);
  EXPECT_EQ(ActionKeywordToCode(u"changeprinter", arg), 19);
  EXPECT_EQ(ActionKeywordToCode(u"nothing", arg), 0);
}

TEST(ObjectActions, ArgumentsKeepTheirCase) {
  EXPECT_EQ(ParseObjectAction(u"gotoslide(12)"), Rec(kActionGotoSlide, 12, u"12"));
  EXPECT_EQ(ParseObjectAction(u"GotoSlide(Intro)"), Rec(kActionGotoSlide, -1, u"Intro"));
  EXPECT_EQ(ParseObjectAction(u"runapp(\"C:\\Tools\\App.EXE\")"),
            Rec(kActionRunApp, 0, u"C:\\Tools\\App.EXE"));
  EXPECT_EQ(ParseObjectAction(u"RunAppAndExit(\"a b\")"), Rec(kActionRunAppAndExit, 0, u"a b"));
  EXPECT_EQ(ParseObjectAction(u"runpresentation(\"x.exe\")"), Rec(kActionRunPresentation, 0, u"x.exe"));
  EXPECT_EQ(ParseObjectAction(u"runpresentationandreturn(\"x.exe\")"),
            Rec(kActionRunPresentationAndReturn, 0, u"x.exe"));
  EXPECT_EQ(ParseObjectAction(u"openwebsite(\"http://A.b\")"), Rec(kActionOpenWebSite, 0, u"http://A.b"));
  EXPECT_EQ(ParseObjectAction(u"writeemail(\"me@x\")"), Rec(kActionWriteEmail, 0, u"me@x"));
  EXPECT_EQ(ParseObjectAction(u"opendialog(\"Help2\")"), Rec(kActionOpenDialog, 0, u"Help2"));
  // Characters beyond the Basic Multilingual Plane and non-ASCII letters keep
  // their positions.
  EXPECT_EQ(ParseObjectAction(u"RUNAPP(\"\u00c4\U0001F600\")"), Rec(kActionRunApp, 0, u"\u00c4\U0001F600"));
}

TEST(ObjectActions, ShortArgumentsNeverOverread) {
  // Texts too short to hold the closing characters give an empty argument.
  EXPECT_EQ(ParseObjectAction(u"gotoslide("), Rec(kActionGotoSlide, -1, u""));
  EXPECT_EQ(ParseObjectAction(u"gotoslide()"), Rec(kActionGotoSlide, -1, u""));
  EXPECT_EQ(ParseObjectAction(u"runapp("), Rec(kActionRunApp, 0, u""));
  EXPECT_EQ(ParseObjectAction(u"runapp(\""), Rec(kActionRunApp, 0, u""));
  EXPECT_EQ(ParseObjectAction(u"runapp(\")"), Rec(kActionRunApp, 0, u""));
  EXPECT_EQ(ParseObjectAction(u"runapp(\"\")"), Rec(kActionRunApp, 0, u""));
  EXPECT_EQ(ParseObjectAction(u"runapp(\"x\")"), Rec(kActionRunApp, 0, u"x"));
  std::u16string arg;
  EXPECT_EQ(ActionKeywordToCode(u"opendialog(", arg), 16);
  EXPECT_EQ(arg, u"");
}
