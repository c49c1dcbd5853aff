// The show check: the example show reads clean, and each mistake an author
// makes in it gives exactly one problem, with its line and reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "KavLib2/KavClasses/KavShowCheck.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/TempFolder.h"

using namespace kav;
namespace fs = std::filesystem;

namespace {

const fs::path kExample = fs::path(KAV_SOURCE_DIR) / "examples" / "myshow";

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The 1-based line of the first line of `text` that starts with `start`.
int32_t LineOf(const std::string& text, const std::string& start) {
  int32_t line = 1;
  for (size_t at = 0; at < text.size(); ++line) {
    if (text.compare(at, start.size(), start) == 0) return line;
    const size_t next = text.find('\n', at);
    if (next == std::string::npos) break;
    at = next + 1;
  }
  return 0;
}

// A copy of the example show in a folder of its own, checked as the player
// (or, with `decode`, kavpack) checks it.
class ShowCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterImageLoaders();
    fs::copy(kExample, folder.Sys("show"), fs::copy_options::recursive);
    text = ReadText(kExample / "Project.kav");
  }
  void TearDown() override { PopAllShowLocators(); }

  // Replaces the first `from` of the project text by `to`; the line it is on.
  int32_t Change(const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at == std::string::npos) return 0;
    text.replace(at, from.size(), to);
    return int32_t(std::count(text.begin(), text.begin() + std::ptrdiff_t(at), '\n')) + 1;
  }

  std::vector<TShowProblem> Check(bool decode = true) {
    folder.WriteFile("show/Project.kav", text);
    std::vector<TShowProblem> said;
    SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
    Ref<TKavShowLocator> locator = LoadProjectShow(folder.Wide("show/Project.kav"));
    EXPECT_NE(locator, nullptr);
    if (locator) {
      TShowCheckOptions options;
      options.DecodePictures = decode;
      options.SoundLength = sound_length;
      options.SoundProblem = sound_problem;
      options.NameProblem = name_problem;
      CheckShowProject(locator->Ini(), locator->Accessor(), options);
    }
    SetShowProblemSink(nullptr);
    return said;
  }

  // Exactly one problem, on `line`, of that kind, naming `name`, its reason
  // holding `reason`.
  void ExpectOne(const std::vector<TShowProblem>& said, int32_t line, TShowProblemKind kind, const std::u16string& name,
                 const std::u16string& reason, bool error = false) {
    std::string all;
    for (const TShowProblem& p : said) all += std::to_string(p.Line) + ": " + UTF8Encode(ShowProblemText(p)) + "\n";
    ASSERT_EQ(said.size(), 1u) << all;
    EXPECT_EQ(said[0].Line, line);
    EXPECT_EQ(said[0].Kind, kind);
    EXPECT_EQ(said[0].Name, name);
    EXPECT_NE(said[0].Reason.find(reason), std::u16string::npos) << UTF8Encode(said[0].Reason);
    EXPECT_EQ(said[0].Error, error);
  }

  test::TTempFolder folder;
  std::string text;
  int64_t (*sound_length)(TStream*, const std::u16string&) = nullptr;
  std::u16string (*sound_problem)(TStream*, const std::u16string&) = nullptr;
  std::function<std::u16string(const std::u16string&)> name_problem;
};

TEST_F(ShowCheckTest, TheExampleShowHasNoProblem) {
  const std::vector<TShowProblem> said = Check();
  for (const TShowProblem& p : said) ADD_FAILURE() << p.Line << ": " << UTF8Encode(ShowProblemText(p));
}

TEST_F(ShowCheckTest, MistakesInTheProjectTextAreNamedWithTheirLine) {
  const std::string clean = text;
  int32_t line = Change("ImageName=Photos\\sea.jpg", "ImageNme=Photos\\sea.jpg");
  ExpectOne(Check(), line, TShowProblemKind::Key, u"ImageNme", u"(ImageName?)");

  text = clean;
  line = Change("object Photo:Image", "objet Photo:Image");
  ExpectOne(Check(), line, TShowProblemKind::Section, u"objet Photo:Image", u"neither a key");

  text = clean;
  line = Change("object Photo:Image", "object Photo:Imagee");
  ExpectOne(Check(), line, TShowProblemKind::Object, u"Photo:Imagee", u"no object kind \"Imagee\" (Image?)");

  text = clean;
  line = Change("[Slide2]", "[Slide2");
  ExpectOne(Check(), line, TShowProblemKind::Section, u"[Slide2", u"without its \"]\"");

  text = clean;
  line = Change("ref=dissolve", "ref=puhs");
  ExpectOne(Check(), line, TShowProblemKind::Effect, u"puhs", u"no effect of that name");

  text = clean;
  line = Change("FitMode=Cover", "FitMode=Banana");
  ExpectOne(Check(), line, TShowProblemKind::Value, u"FitMode=Banana", u"not one of None, PlaceInto, Cover");

  text = clean;
  line = Change("opt_slidescount=4", "opt_slidescount=three");
  ExpectOne(Check(), line, TShowProblemKind::Value, u"opt_slidescount=three", u"not a number of slides");

  text = clean;
  line = Change("[Times]", "[Tims]");
  ExpectOne(Check(), line, TShowProblemKind::Section, u"[Tims]", u"(Times?)");
  // A key the player does not read and that resembles none is left alone.
  text = clean;
  Change("FitMode=Cover", "FitMode=Cover\nMyOwnNote=kept");
  EXPECT_TRUE(Check().empty());
  EXPECT_EQ(NearKnownObjectKey(u"ScaleX"), u"");
  EXPECT_EQ(NearKnownObjectKey(u"Colour1"), u"Color");
}

TEST_F(ShowCheckTest, AnEffectOfTheListThatNamesNoKindIsNamed) {
  const std::string clean = text;
  // The slide's "ref=flip" still names a kind; the list's entry names none.
  int32_t line = Change("object flip:Effect", "object flp:Effect");
  ExpectOne(Check(), line, TShowProblemKind::Effect, u"flp",
            u"no transition kind of that name (flip?) and no section [effect_flp] with its settings: slides that "
            u"use it come in as a cut");
  // A custom effect with its settings' section plays.
  text = clean;
  Change("object flip:Effect", "object mine:Effect\nchecked=1\nend\nobject flip:Effect");
  text += "\n[effect_mine]\nspeed=2\n";
  EXPECT_TRUE(Check().empty());
}

TEST_F(ShowCheckTest, ATransitionLongerThanItsSlideIsNamedWhereItsTimeIs) {
  const std::string clean = text;
  int32_t line = Change("ref=push\ntime=1000", "ref=push\ntime=6000") + 1;
  ExpectOne(Check(), line, TShowProblemKind::Value, u"[Slide2] TheEffect",
            u"the transition (6000 ms) is longer than its slide (3000 ms)");
  // A slide without a time of its own takes the time of the effect it names.
  text = clean;
  Change("object mosaic:Effect\nchecked=1\n", "object mosaic:Effect\nchecked=1\ntime=4000\n");
  Change("ref=mosaic\ntime=1000\n", "ref=mosaic\n");
  const std::vector<TShowProblem> said = Check();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].Name, u"[Slide3] TheEffect");
  EXPECT_EQ(said[0].Line, LineOf(text, "ref=mosaic") - 1);
  // As long as its slide is allowed.
  text = clean;
  Change("ref=push\ntime=1000", "ref=push\ntime=3000");
  EXPECT_TRUE(Check().empty());
}

TEST_F(ShowCheckTest, StructureMistakesAreNamedWithTheirLine) {
  const std::string clean = text;
  int32_t line = Change("opt_slidescount=4", "opt_slidescount=51");
  ExpectOne(Check(), line, TShowProblemKind::Value, u"opt_slidescount=51",
            u"the slides go up to [Slide4] only: slides 5 to 51 are empty (opt_slidescount=4?)");

  text = clean;
  Change("opt_slidescount=4", "opt_slidescount=3");
  ExpectOne(Check(), LineOf(text, "[Slide4]"), TShowProblemKind::Section, u"[Slide4]",
            u"after the last slide (opt_slidescount=3): it is not shown");

  text = clean;
  line = Change("opt_synchpos3=9000", "opt_synchpos3=5000");
  ExpectOne(Check(), line, TShowProblemKind::Value, u"opt_synchpos3=5000",
            u"before the end of slide 2 (6000): slide 3 is not shown");

  text = clean;
  line = Change("opt_synchpos2=6000\n", "");
  ExpectOne(Check(), LineOf(text, "opt_slidescount"), TShowProblemKind::Value, u"opt_synchpos2",
            u"missing: slide 2 has no end time");

  text = clean;
  const int32_t first = LineOf(text, "GUID={myshow-1-photo}");
  line = Change("GUID={myshow-2-photo}", "GUID={MyShow-1-Photo}");
  ExpectOne(Check(), line, TShowProblemKind::Value, u"GUID={MyShow-1-Photo}",
            u"the same GUID as the object on line " + UTF8Decode(std::to_string(first)) +
                u": give each object a GUID of its own");

  // An object that meets a section header, or the end of the text, before
  // its "end".
  text = clean;
  Change("ScaleY=14\nend\nend\n\n[Slide2]", "ScaleY=14\nend\n\n[Slide2]");
  ExpectOne(Check(), LineOf(text, "object Caption:Text"), TShowProblemKind::Section, u"object Caption:Text",
            u"no \"end\" of its own before [Slide2] (line " + UTF8Decode(std::to_string(LineOf(text, "[Slide2]"))) +
                u"): an \"end\" is missing inside it or after it");
  text = clean;
  ASSERT_EQ(text.substr(text.size() - 8), "end\nend\n");
  text.resize(text.size() - 4);
  const std::vector<TShowProblem> said = Check();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].Name, u"object Caption:Text");
  EXPECT_NE(said[0].Reason.find(u"before the end of the text"), std::u16string::npos);
}

TEST_F(ShowCheckTest, FilesThatAreMissingEmptyOrNoPicturesAreNamed) {
  const int32_t music = LineOf(text, "FileName=Music\\tune.mp3");
  const int32_t sea = LineOf(text, "ImageName=Photos\\sea.jpg");
  fs::remove(folder.Sys("show/Music/tune.mp3"));
  ExpectOne(Check(), music, TShowProblemKind::File, u"Music\\tune.mp3", u"no such file", true);

  folder.WriteFile("show/Music/tune.mp3", "");
  ExpectOne(Check(), music, TShowProblemKind::File, u"Music\\tune.mp3", u"the file is empty");
  fs::copy_file(kExample / "Music" / "tune.mp3", folder.Sys("show/Music/tune.mp3"),
                fs::copy_options::overwrite_existing);

  const std::string photo = ReadText(kExample / "Photos" / "sea.jpg");
  folder.WriteFile("show/Photos/sea.jpg", photo.substr(0, photo.size() / 2));
  ExpectOne(Check(), sea, TShowProblemKind::File, u"Photos\\sea.jpg", u"cut short");
  ExpectOne(Check(false), sea, TShowProblemKind::File, u"Photos\\sea.jpg", u"cut short");

  folder.WriteFile("show/Photos/sea.jpg", "this is a shopping list");
  ExpectOne(Check(), sea, TShowProblemKind::File, u"Photos\\sea.jpg", u"not a picture");
  // The player leaves decoding to its picture loader.
  EXPECT_TRUE(Check(false).empty());
}

// A file is judged by what its data is, not by its name: a PNG named ".jpg",
// a JPEG named ".png" and an Ogg named ".mp3" are no problem; a text (a
// download that failed) or an empty file named as a sound is said, with
// what to do.
TEST_F(ShowCheckTest, FilesAreJudgedByTheirData) {
  const std::string png(
      "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x02\x00\x00\x00\x02"
      "\x08\x02\x00\x00\x00\xFD\xD4\x9A\x73\x00\x00\x00\x16\x49\x44\x41\x54\x78\x9C\x63\x3C\x21\x27\xC7"
      "\xC0\xC0\xC0\xC4\xC0\xC0\xC0\xC0\xC0\x00\x00\x0D\x04\x01\x08\x7D\x71\xCA\x66\x00\x00\x00\x00\x49"
      "\x45\x4E\x44\xAE\x42\x60\x82",
      79);
  folder.WriteFile("show/Photos/sea.jpg", png);
  folder.WriteFile("show/Photos/mountains.png", ReadText(kExample / "Photos" / "mountains.jpg"));
  Change("ImageName=Photos\\mountains.jpg", "ImageName=Photos\\mountains.png");
  folder.WriteFile("show/Music/tune.mp3", std::string("OggS\0\2", 6) + std::string(200, '\x55'));
  const std::vector<TShowProblem> fine = Check();
  EXPECT_TRUE(fine.empty()) << (fine.empty() ? std::string() : UTF8Encode(ShowProblemText(fine[0])));

  const int32_t music = LineOf(text, "FileName=Music\\tune.mp3");
  folder.WriteFile("show/Music/tune.mp3", "<!DOCTYPE html>\n<html><body>404 Not Found</body></html>\n");
  ExpectOne(Check(false), music, TShowProblemKind::File, u"Music\\tune.mp3",
            u"a text file, not a sound (a download that failed?): download or export the sound again");
  folder.WriteFile("show/Music/tune.mp3", "");
  ExpectOne(Check(false), music, TShowProblemKind::File, u"Music\\tune.mp3",
            u"the file is empty (0 bytes): copy it into the project folder again");
  // Binary data of no kind the player knows is left to its decoders.
  folder.WriteFile("show/Music/tune.mp3", std::string("\0\1\2\3fLaC", 8));
  EXPECT_TRUE(Check(false).empty());
}

// What only the program that checks knows of a file is asked through the
// options: the music library's test of each sound the music names, and for
// each file name, once, whether it leads to one file; each answer is said
// on the line of the name, with the program's words.
TEST_F(ShowCheckTest, TheProgramsOwnWordOnASoundOrANameIsSaidOnItsLine) {
  sound_problem = [](TStream* stream, const std::u16string& name) {
    return stream && name == u"Music\\tune.mp3" ? std::u16string(u"not a sound the player plays") : std::u16string();
  };
  std::vector<std::u16string> asked;
  name_problem = [&asked](const std::u16string& name) {
    asked.push_back(name);
    return name == u"Photos\\sea.jpg" ? std::u16string(u"2 files of the folder answer to this name") : std::u16string();
  };
  const std::vector<TShowProblem> said = Check();
  std::string all;
  for (const TShowProblem& p : said) all += std::to_string(p.Line) + ": " + UTF8Encode(ShowProblemText(p)) + "\n";
  ASSERT_EQ(said.size(), 2u) << all;
  for (const TShowProblem& p : said) {
    EXPECT_EQ(p.Kind, TShowProblemKind::File);
    EXPECT_FALSE(p.Error);
    if (p.Name == u"Music\\tune.mp3") {
      EXPECT_EQ(p.Line, LineOf(text, "FileName=Music\\tune.mp3"));
      EXPECT_EQ(p.Reason, u"not a sound the player plays");
    } else {
      EXPECT_EQ(p.Name, u"Photos\\sea.jpg");
      EXPECT_EQ(p.Line, LineOf(text, "ImageName=Photos\\sea.jpg"));
      EXPECT_EQ(p.Reason, u"2 files of the folder answer to this name");
    }
  }
  // Each name once, however many lines name it.
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"Music\\tune.mp3", u"Photos\\mountains.jpg", u"Photos\\sea.jpg"}));
}

// Mistakes that left a slide, a picture or the music out without a word:
// each gives one problem, on the line named, saying what to write.
TEST_F(ShowCheckTest, WhatIsLeftOutSilentlyIsNamedWithWhatToWrite) {
  struct TCase {
    const char* What;
    std::vector<std::pair<std::string, std::string>> Edits;  // first occurrence of each, in turn
    std::string At;                                          // the start of the line named
    TShowProblemKind Kind;
    std::u16string Name, Reason;                             // "@" in Reason stands for that line
    std::string Other = {};                                  // the start of the line "#" stands for
  };
  const std::string times_block =
      "[Times]\nopt_slidescount=4\nopt_synchpos1=3000\nopt_synchpos2=6000\nopt_synchpos3=9000\nopt_synchpos4=12000\n";
  const TCase cases[] = {
      {"an object without its GUID line",
       {{"GUID={myshow-2-photo}\n", ""}},
       "object Photo:Image\nImageName=Photos\\mountains.jpg",
       TShowProblemKind::Object,
       u"object Photo:Image",
       u"no GUID line: the object is not shown; add a line GUID= with a text no other object has, such as "
       u"GUID={Photo-@}"},
      {"an empty GUID",
       {{"GUID={myshow-3-caption}", "GUID="}},
       "object Caption:Text\nGUID=\n",
       TShowProblemKind::Object,
       u"object Caption:Text",
       u"an empty GUID: the object is not shown"},
      {"music without its Duration",
       {{"Duration=12000\n", ""}},
       "object Tune:TMusicItem",
       TShowProblemKind::Object,
       u"object Tune:TMusicItem",
       u"no Duration line: it plays for 0 ms and is not heard; add Duration= with the milliseconds it plays, such as "
       u"Duration=12000 (the length of the show)"},
      {"music without its FileName",
       {{"FileName=Music\\tune.mp3\n", ""}},
       "object Tune:TMusicItem",
       TShowProblemKind::Object,
       u"object Tune:TMusicItem",
       u"no FileName line: nothing plays; add FileName= with the music's path below the project folder, such as "
       u"FileName=Music\\tune.mp3"},
      {"an image without its ImageName",
       {{"ImageName=Photos\\mountains.jpg\n", ""}},
       "object Photo:Image\nGUID={myshow-2-photo}",
       TShowProblemKind::Object,
       u"object Photo:Image",
       u"no ImageName line: the image shows nothing; add ImageName= with the picture's path below the project "
       u"folder, such as ImageName=Photos\\sea.jpg"},
      {"no [Times] section",
       {{times_block, ""}},
       "[Slide1]",
       TShowProblemKind::Section,
       u"[Times]",
       u"no such section: no slide has a time, so the show does not go from slide to slide; add a section [Times] "
       u"with opt_slidescount=4 and opt_synchpos1 to opt_synchpos4, the time each slide ends in milliseconds"},
      {"[Times] without opt_slidescount",
       {{"opt_slidescount=4\n", ""}},
       "[Times]",
       TShowProblemKind::Value,
       u"opt_slidescount",
       u"missing from [Times]: the show has no slides; add opt_slidescount=4 (the number of [SlideN] sections)"},
      {"a kind missing from the effect list",
       {{"object flip:Effect\nchecked=1\ndirection=0100\nend\n", ""}},
       "ref=flip",
       TShowProblemKind::Effect,
       u"ref=flip",
       u"flip is not in the effect list of [Main] (object TheEffect:AnEffect, line #): slide 4 comes in as a cut; "
       u"add an object flip:Effect with checked=1 and its settings to that list",
       "object TheEffect:AnEffect"},
      {"a kind of the list without its direction",
       {{"object push:Effect\nchecked=1\ndirection=1000\n", "object push:Effect\nchecked=1\n"}},
       "ref=push",
       TShowProblemKind::Effect,
       u"ref=push",
       u"the entry push of the effect list of [Main] (line #) turns none of its variants on (see its checked, "
       u"direction or action): slide 2 comes in as a cut",
       "object push:Effect"},
  };
  const std::string clean = text;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    text = clean;
    for (const auto& [from, to] : c.Edits) Change(from, to);
    const int32_t line = LineOf(text, c.At);
    ASSERT_GT(line, 0);
    std::u16string reason = c.Reason;
    if (const size_t at = reason.find(u'@'); at != std::u16string::npos)
      reason.replace(at, 1, UTF8Decode(std::to_string(line)));
    if (const size_t at = reason.find(u'#'); at != std::u16string::npos)
      reason.replace(at, 1, UTF8Decode(std::to_string(LineOf(text, c.Other))));
    ExpectOne(Check(), line, c.Kind, c.Name, reason);
  }
  // An image that shows a transition's picture needs no file.
  text = clean;
  Change("ImageName=Photos\\mountains.jpg\n", "ReplaceWithEffectBuffer=1\n");
  EXPECT_TRUE(Check().empty());
  // A key misspelt, or a section header, is said by itself.
  text = clean;
  Change("Duration=12000", "Duraton=12000");
  ExpectOne(Check(), LineOf(text, "Duraton="), TShowProblemKind::Key, u"Duraton", u"(Duration?)");
  text = clean;
  Change("[Times]", "[Tmes]");
  ExpectOne(Check(), LineOf(text, "[Tmes]"), TShowProblemKind::Section, u"[Tmes]", u"(Times?)");
}

// A value written in another form (a decimal comma, a unit, seconds for
// milliseconds), a section named twice and a music start past the end of
// its file: each one line naming the mistake, what it reads as and what to
// write.
TEST_F(ShowCheckTest, ValuesInOtherFormsSayWhatToWrite) {
  struct TCase {
    std::string From, To;  // the first occurrence of From becomes To
    std::string At;        // the start of the line named
    TShowProblemKind Kind;
    std::u16string Name, Reason;
  };
  // The music's Duration written as `value`: read as no length, then `what`.
  const auto duration = [](const std::string& value, const std::u16string& what) {
    return TCase{"Duration=12000", "Duration=" + value, "Duration=", TShowProblemKind::Value,
                 u"Duration=" + UTF8Decode(value),
                 u"not a whole number of milliseconds: it reads as 0, no length: alone the piece is not heard, and "
                 u"before other pieces it plays on under them to the end of its file; " +
                     what};
  };
  const TCase cases[] = {
      duration("18.5", u"Duration counts milliseconds: for 18.5 seconds write Duration=18500"),
      duration("18,5", u"Duration counts milliseconds: for 18.5 seconds write Duration=18500"),
      duration("18000ms", u"write the number without a unit: Duration=18000"),
      duration("18,5 s", u"write the milliseconds without a unit: Duration=18500"),
      duration("18,000", u"write it without the comma: Duration=18000"),
      duration("12000.4ms", u"write the number without a unit: Duration=12000"),
      duration("12000.6", u"write whole milliseconds: Duration=12001"),
      {"StartTime=0", "StartTime=2 s", "StartTime=", TShowProblemKind::Value, u"StartTime=2 s",
       u"not a whole number of milliseconds: it reads as 0: the piece plays from the start of its file; write the "
       u"milliseconds without a unit: StartTime=2000"},
      {"Volume=80", "Volume=80%", "Volume=", TShowProblemKind::Value, u"Volume=80%",
       u"not a whole percent: it reads as 100, full volume; write the percent alone in whole digits, such as "
       u"Volume=80"},
      {"object flip:Effect\nchecked=1\n", "object flip:Effect\nchecked=1\n3dvolume=0,5\n", "3dvolume=",
       TShowProblemKind::Value, u"3dvolume=0,5",
       u"not a number: the transition takes its own default for it; the decimal mark is a point: write "
       u"3dvolume=0.5"},
      {"ScaleX=14", "ScaleX=9,5", "ScaleX=9,5", TShowProblemKind::Value, u"ScaleX=9,5",
       u"not a number: it reads as 100, the default: as wide as what holds it; the decimal mark is a point: write "
       u"ScaleX=9.5"},
  };
  const std::string clean = text;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.To);
    text = clean;
    Change(c.From, c.To);
    ExpectOne(Check(), LineOf(text, c.At), c.Kind, c.Name, c.Reason);
  }
  // Opacity written as a fraction with a unit.
  text = clean;
  int32_t line = Change("ScaleY=14", "ScaleY=14\nOpacity=50 %");
  ExpectOne(Check(), line + 1, TShowProblemKind::Value, u"Opacity=50 %",
            u"not a number: it reads as 100, the default: fully opaque; write the number without a unit: Opacity=50");

  // The third slide's header written as the second's: the real mistake is
  // the repeated name, not a slide the count misses.
  text = clean;
  const int32_t first = LineOf(text, "[Slide2]");
  line = Change("[Slide3]", "[Slide2]");
  ExpectOne(Check(), line, TShowProblemKind::Section, u"[Slide2]",
            u"appears twice, lines " + UTF8Decode(std::to_string(first)) + u" and " +
                UTF8Decode(std::to_string(line)) +
                u": the lines under the second header join the first's, so slide 2 shows the objects of both and "
                u"slide 3 has no section of its own (rename the second [Slide3]?)");
  // Another section named twice.
  text = clean + "\n[Main]\nopt_repeat=stop\n";
  line = int32_t(std::count(text.begin(), text.end(), '\n')) - 1;
  ExpectOne(Check(), line, TShowProblemKind::Section, u"[Main]",
            u"appears twice, lines " + UTF8Decode(std::to_string(LineOf(text, "[Main]"))) + u" and " +
                UTF8Decode(std::to_string(line)) +
                u": the lines under the second header join the first's (a key set under both takes the second's "
                u"value): make them one section");

  // A start past the end of the music's file, when its length is known.
  sound_length = [](TStream* stream, const std::u16string& name) -> int64_t {
    return stream && name == u"Music\\tune.mp3" ? 10000 : -1;
  };
  text = clean;
  line = Change("StartTime=0", "StartTime=10000");
  ExpectOne(Check(), line, TShowProblemKind::Value, u"StartTime=10000",
            u"past the end of Music\\tune.mp3, which is 10000 ms long: the piece is silent; write a StartTime below "
            u"10000");
  text = clean;
  Change("StartTime=0", "StartTime=9999");
  EXPECT_TRUE(Check().empty());
}

// Pictures in a format no decoder reads are named with the formats that
// are read; the player's picture loader says so with the line that names
// the picture, as the check does.
TEST_F(ShowCheckTest, PicturesOfFormatsNotReadSayWhatToConvertThemTo) {
  const int32_t line = LineOf(text, "ImageName=Photos\\mountains.jpg");
  const std::pair<const char16_t*, std::string> formats[] = {
      {u"a WebP", std::string("RIFF\x24\0\0\0WEBPVP8 \x18\0\0\0", 20) + std::string(24, '\x11')},
      {u"a HEIC", std::string("\0\0\0\x18" "ftypheic\0\0\0\0mif1heic", 24) + std::string(40, '\x22')},
      {u"an AVIF", std::string("\0\0\0\x1c" "ftypavif\0\0\0\0avifmif1miaf", 28) + std::string(40, '\x22')},
      {u"a TIFF", std::string("II*\0\x08\0\0\0", 8) + std::string(40, '\0')},
      {u"a TIFF", std::string("MM\0*\0\0\0\x08", 8) + std::string(40, '\0')},
  };
  for (const auto& [format, bytes] : formats) {
    SCOPED_TRACE(UTF8Encode(format));
    folder.WriteFile("show/Photos/mountains.jpg", bytes);
    const std::u16string reason = std::u16string(format) +
                                  u" picture, which the player does not read (it shows JPEG, PNG, GIF and BMP "
                                  u"pictures): convert it to JPEG or PNG";
    ExpectOne(Check(), line, TShowProblemKind::File, u"Photos\\mountains.jpg", reason);

    // The player checks without decoding; its picture loader says it.
    folder.WriteFile("show/Project.kav", text);
    std::vector<TShowProblem> said;
    SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
    Ref<TKavShowLocator> locator = LoadProjectShow(folder.Wide("show/Project.kav"));
    ASSERT_NE(locator, nullptr);
    CheckShowProject(locator->Ini(), locator->Accessor(), TShowCheckOptions{});
    EXPECT_TRUE(said.empty());
    ASSERT_NE(LoadImageHandle(locator->Accessor(), u"Photos\\mountains.jpg"), nullptr);
    SetShowProblemSink(nullptr);
    ExpectOne(said, line, TShowProblemKind::File, u"Photos\\mountains.jpg", reason);
  }
  // Data of no known kind keeps its words.
  folder.WriteFile("show/Photos/mountains.jpg", "a shopping list");
  ExpectOne(Check(), line, TShowProblemKind::File, u"Photos\\mountains.jpg",
            u"not a picture: no decoder accepts its data");
}

TEST_F(ShowCheckTest, AFloodOfProblemsIsCutShort) {
  std::string flood;
  for (int i = 0; i < 5000; ++i) flood += "object O" + std::to_string(i) + ":Imagee" + std::to_string(i) + "\nend\n";
  Change("[Slide2]", flood + "[Slide2]");
  const std::vector<TShowProblem> said = Check(false);
  ASSERT_EQ(said.size(), 201u);
  EXPECT_EQ(ShowProblemText(said.back()), u"Project.kav: more problems than are listed: the check stops");
}

TEST(ShowProblems, EachIsSaidOnceUntilReset) {
  std::vector<std::u16string> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(ShowProblemText(p)); });
  ReportShowProblem(TShowProblemKind::File, u"a.jpg", u"no such file", 3, true);
  ReportShowProblem(TShowProblemKind::File, u"a.jpg", u"no such file", 9, true);  // named again elsewhere
  ReportShowProblem(TShowProblemKind::File, u"b.jpg", u"no such file");
  EXPECT_EQ(said, (std::vector<std::u16string>{u"a.jpg: no such file", u"b.jpg: no such file"}));
  ResetShowProblems();
  ReportShowProblem(TShowProblemKind::File, u"a.jpg", u"no such file");
  EXPECT_EQ(said.size(), 3u);
  SetShowProblemSink(nullptr);
  ReportShowProblem(TShowProblemKind::File, u"c.jpg", u"no such file");  // no sink: nothing to call
  EXPECT_EQ(said.size(), 3u);
}

TEST(IniLines, ItemsRememberTheLineTheyWereReadFrom) {
  auto ini = MakeRef<TIniFile>();
  ASSERT_TRUE(ini->LoadFromBytes("; c\r\n[Main]\r\na=1\r\n\r\nobject O:Box\nb=2\rend\n[Main]\nc=3\n"));
  TIniList* main = ini->FindSection(u"Main");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->Line(), 2);
  EXPECT_EQ(main->FindKey(u"a")->Line(), 3);
  TIniObject* o = main->FindObject(u"O");
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->Line(), 5);
  EXPECT_EQ(o->FindKey(u"b")->Line(), 6);
  EXPECT_EQ(main->FindKey(u"c")->Line(), 9);  // a second header of the same section
}

}  // namespace
