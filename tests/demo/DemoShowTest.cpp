// The bundled demo show: its project text reads as the show it is meant to
// be (slides, times, transitions, every object kind), and the packed show
// built from it opens and carries every file the project names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "KavLib2/KavClasses/KavEffect.h"
#include "KavLib2/KavClasses/KavKeyFields.h"
#include "KavLib2/KavClasses/KavShowCheck.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavMusic/KavCompositeConverter.h"
#include "KavLib2/KavMusic/KavMusicSource.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"

using namespace kav;

namespace {

const std::string kProjectPath = std::string(KAV_SOURCE_DIR) + "/demo/show/Project.kav";

struct TDemoSlide {
  double End;
  const char16_t* Id;
  int32_t Kind;
  double EffectTime;
};

// The show as written: eight slides of 7 s, each coming in by its own kind
// of transition.
constexpr TDemoSlide kSlides[] = {
    {7000, u"welcome", kEffectDissolve, 1500},  {14000, u"scripts-rtl", kEffectPush, 1200},
    {21000, u"scripts-asia", kEffectHourhand, 1500}, {28000, u"shapes", kEffectMosaic, 1500},
    {35000, u"mask", kEffectPage, 1500},        {42000, u"video", kEffectFlip, 1500},
    {49000, u"buttons", kEffectGates, 1500},    {56000, u"finale", kEffectCurling, 2000},
};
constexpr int32_t kSlideCount = int32_t(std::size(kSlides));

std::string ReadDiskFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ReadStream(TStream* s) {
  std::string out;
  std::vector<uint8_t> block(65536);
  while (int64_t n = s->Read(block, int64_t(block.size()))) out.append(block.begin(), block.begin() + n);
  return out;
}

std::string Utf8(const std::u16string& s) { return UTF8Encode(s); }

void ExpectDemoTimeline(TKavSource* s) {
  ASSERT_EQ(s->SlideCount(), kSlideCount);
  EXPECT_FALSE(s->TimesDamaged());
  EXPECT_EQ(s->Duration(), 56000);
  EXPECT_EQ(s->RepeatMode(), kRepeatShow);
  EXPECT_EQ(s->DesignWidth(), 1280);
  EXPECT_EQ(s->DesignHeight(), 720);
  EXPECT_FALSE(s->PauseWhenInactive());
  EXPECT_EQ(s->DefaultEffectTime(), 1500);
  // Every effect of the library is checked and has exactly one variant:
  // a typing slip in an option would drop it from the defaults.
  EXPECT_EQ(s->DefaultEffects().size(), 11u);
  for (const auto& e : s->DefaultEffects()) EXPECT_EQ(e->VariantCount, 1) << e->Kind;

  double begin = 0;
  for (int32_t i = 0; i < kSlideCount; ++i) {
    const TSlideInfo& si = s->Slide(i);
    const TDemoSlide& want = kSlides[i];
    EXPECT_EQ(si.Begin, begin) << i;
    EXPECT_EQ(si.End, want.End) << i;
    EXPECT_EQ(si.EffectTime, want.EffectTime) << i;
    // The show repeats: the last slide leads into the first one's time.
    EXPECT_EQ(si.NextEffectTime, kSlides[(i + 1) % kSlideCount].EffectTime) << i;
    EXPECT_EQ(si.Id, want.Id) << i;
    double time = 0;
    float smooth = 0;
    Ref<TKavEffect> e = s->GetSlideEffect(i, time, smooth);
    ASSERT_NE(e, nullptr) << i;
    EXPECT_EQ(e->Kind, want.Kind) << i;
    EXPECT_EQ(e->VariantCount, 1) << i;
    EXPECT_EQ(time, want.EffectTime) << i;
    // The mosaic shows its blocks one after another (an appearance spread of 0
    // fades them in all together, like a dissolve).
    if (e->Kind == kEffectMosaic) {
      EXPECT_GE(e->Ints.at(2), 10) << i;
    }
    double pause = -1;
    EXPECT_FALSE(s->GetEndAction(i, pause)) << i;  // the show runs on by itself
    begin = want.End;
  }
}

// Walks the object blocks of the project: file names, object kinds, button
// themes.
struct TProjectWalk {
  std::vector<std::u16string> Files;
  std::set<int32_t> Kinds;
  std::set<std::u16string> Themes;
  std::vector<std::string> Problems;

  // `objects`: the blocks of `list` are slide objects (else only their
  // file names count: effects, music, keyframes).
  void Walk(TIniList* list, const std::string& where, bool objects) {
    for (int32_t i = 0; i < list->Count(); ++i) {
      TIniItem* item = list->GetItem(i);
      auto* object = dynamic_cast<TIniObject*>(item);
      if (!object) {
        Key(item);
        continue;
      }
      const std::string cls(object->GetValueBytes());
      const std::string here = where + "/" + Utf8(object->GetName());
      if (!objects || cls == "KeyPoint" || cls == "AnEffect" || cls == "TMusic") {
        Walk(object, here, false);
        continue;
      }
      const int32_t kind = ParseObjectKind(cls);
      if (kind == kKindNone) Problems.push_back(here + ": no object kind '" + cls + "'");
      if (object->ReadString(u"GUID", u"").empty()) Problems.push_back(here + ": no GUID");
      Kinds.insert(kind);
      if (kind == kKindButton) Themes.insert(object->ReadString(u"Theme", u""));
      Walk(object, here, true);
    }
  }

  void Key(TIniItem* item) {
    for (std::u16string_view key : {u"ImageName", u"FileName", u"Picture", u"bfn"})
      if (ByteStringCompareWideText(item->NameBytes(), key) == 0 && !item->GetString().empty())
        Files.push_back(item->GetString());
  }

  void Project(TIniFile* ini) {
    Walk(ini, "", false);
    for (int32_t i = 0; i < ini->Sections()->Count(); ++i) {
      TIniList* section = ini->Sections()->GetSection(i);
      const std::string name = Utf8(section->GetName());
      Walk(section, name, name.rfind("Slide", 0) == 0 || name.rfind("dialog_", 0) == 0);
    }
  }
};

// Read as the player reads it: the byte-order mark says UTF-8 (without one
// the text would be taken for the Windows code page).
Ref<TIniFile> SourceProject() {
  auto ini = MakeRef<TIniFile>();
  EXPECT_TRUE(ini->LoadFromFile(UTF8Decode(kProjectPath))) << kProjectPath;
  return ini;
}

// The texts in other scripts come through as written.
void ExpectScripts(TIniFile* ini) {
  auto text = [&](const char16_t* slide, const char16_t* object) {
    TIniList* section = ini->FindSection(slide);
    TIniObject* o = section ? section->FindObject(object) : nullptr;
    return o ? o->ReadString(u"Text", u"") : std::u16string();
  };
  EXPECT_EQ(text(u"Slide2", u"Arabic"), u"\"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645\"");
  EXPECT_EQ(text(u"Slide2", u"Hebrew"), u"\"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD\"");
  TIniObject* card = ini->FindSection(u"Slide3")->FindObject(u"Card");
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(card->FindObject(u"Devanagari")->ReadString(u"Text", u"").substr(0, 3), u"\"\u0928\u092E");
  EXPECT_EQ(card->FindObject(u"Cjk")->ReadString(u"Text", u"").substr(0, 3), u"\"\u4F60\u597D");
}

// What a file of the show must start with, by its extension.
bool LooksLikeItsKind(const std::u16string& name, const std::string& bytes) {
  std::string ext = Utf8(name.substr(name.rfind(u'.') + 1));
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "jpg") return bytes.rfind("\xFF\xD8\xFF", 0) == 0;
  if (ext == "png") return bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0;
  if (ext == "wav") return bytes.rfind("RIFF", 0) == 0 && bytes.compare(8, 4, "WAVE") == 0;
  if (ext == "mp3")
    return bytes.rfind("ID3", 0) == 0 || (bytes.size() > 1 && uint8_t(bytes[0]) == 0xFF && (uint8_t(bytes[1]) & 0xE0) == 0xE0);
  if (ext == "mp4") return bytes.size() > 8 && bytes.compare(4, 4, "ftyp") == 0;
  if (ext == "ini") return bytes.find("[NormalState]") != std::string::npos;
  return false;
}

}  // namespace

TEST(DemoShow, ProjectTextReadsAsTheShowItIsMeantToBe) {
  Ref<TIniFile> ini = SourceProject();
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  TKavSourceSetup setup;
  setup.ProgramFile = u"/usr/bin/kavplay";
  setup.RandomSeed = 1;
  auto source = MakeRef<TKavSource>(accessor.get(), ini.get(), setup);
  ExpectDemoTimeline(source.get());
  ExpectScripts(ini.get());
  // F1 shows the help: the first dialog is marked as the help, a panel
  // with the keys written on it.
  TIniList* help = ini->FindSection(u"dialog_1_");
  ASSERT_NE(help, nullptr);
  ASSERT_NE(help->FindKey(u"help"), nullptr);
  EXPECT_EQ(help->FindKey(u"help")->GetString(), u"1");
  EXPECT_NE(help->FindObject(u"Panel"), nullptr);
  EXPECT_NE(help->FindObject(u"Close"), nullptr);

  TProjectWalk walk;
  walk.Project(ini.get());
  EXPECT_TRUE(walk.Problems.empty()) << ::testing::PrintToString(walk.Problems);
  // Every kind of slide object appears at least once.
  for (int32_t k = kKindFrame; k < kKindCount; ++k) EXPECT_TRUE(walk.Kinds.count(k)) << "object kind " << k;
  EXPECT_EQ(walk.Themes, std::set<std::u16string>{u"Glass"});
  // Music, the sound comment and the clip are among the named files.
  std::set<std::u16string> files(walk.Files.begin(), walk.Files.end());
  for (const char16_t* f : {u"Music\\tune.mp3", u"Sound\\welcome.wav", u"Video\\counter.mp4"})
    EXPECT_TRUE(files.count(f)) << Utf8(f);
  // The button style cuts its parts out of skins of one size.
  Ref<TIniFile> style = MakeRef<TIniFile>();
  ASSERT_TRUE(style->LoadFromBytes(ReadDiskFile(std::string(KAV_SOURCE_DIR) + "/demo/show/Buttons/Glass/btn.ini")));
  for (const char16_t* state : {u"NormalState", u"HoverState", u"ClickState"}) {
    TIniList* section = style->FindSection(state);
    ASSERT_NE(section, nullptr) << Utf8(state);
    TByteStringParts right, bottom;
    section->FindKey(u"Right")->SplitValue(',', right);
    section->FindKey(u"Bottom")->SplitValue(',', bottom);
    EXPECT_EQ(ByteStringListGetInt(right, 3, 0), 96) << Utf8(state);
    EXPECT_EQ(ByteStringListGetInt(bottom, 4, 0), 48) << Utf8(state);
  }
}

#ifdef KAV_DEMO_SHOW
TEST(DemoShow, PackedShowOpensWithEveryFileItNames) {
  const std::string packed = KAV_DEMO_SHOW;
  if (!std::filesystem::exists(packed)) GTEST_SKIP() << "no " << packed << " (the demo target was not built)";
  std::u16string error;
  Ref<TKavShowLocator> locator = LoadPackedShow(UTF8Decode(packed), error);
  ASSERT_NE(locator, nullptr) << Utf8(error);
  EXPECT_TRUE(locator->IsPacked());
  EXPECT_EQ(locator->Version(), u"8.0.1");
  TKavSourceSetup setup;
  setup.ProgramFile = u"/usr/bin/kavplay";
  setup.RandomSeed = 1;
  TKavSource* source = locator->GetSource(setup);
  ASSERT_NE(source, nullptr);
  ExpectDemoTimeline(source);
  ExpectScripts(source->Ini());

  TFileAccessor* files = locator->Accessor();
  // The packed project is the committed one, not an older build.
  Ref<TStream> project = files->OpenFile(u"Project.kav");
  ASSERT_NE(project, nullptr);
  EXPECT_EQ(ReadStream(project.get()), ReadDiskFile(kProjectPath));

  TProjectWalk walk;
  walk.Project(source->Ini());
  std::vector<std::u16string> names = walk.Files;
  const std::u16string buttons = source->Ini()->FindSection(u"Main")->ReadString(u"PathToButtons", u"");
  for (const std::u16string& theme : walk.Themes) {
    const std::u16string folder = buttons + u"\\" + theme + u"\\";
    names.push_back(folder + u"btn.ini");
    for (const char16_t* skin : {u"normal.png", u"hover.png", u"click.png"}) names.push_back(folder + skin);
  }
  int64_t total = 0;
  for (const std::u16string& name : names) {
    Ref<TStream> s = files->OpenFile(name);
    ASSERT_NE(s, nullptr) << Utf8(name);
    const std::string bytes = ReadStream(s.get());
    EXPECT_TRUE(LooksLikeItsKind(name, bytes)) << Utf8(name) << ", " << bytes.size() << " bytes";
    total += int64_t(bytes.size());
  }
  // A demo, not a download: the media stay small.
  EXPECT_LT(std::filesystem::file_size(packed), 8u << 20);
  EXPECT_GT(total, 0);
  PopAllShowLocators();
}

TEST(DemoShow, TheShowCheckFindsNoProblem) {
  // The demo is the reference of a valid show: nothing in it may be reported
  // to its author.
  const std::string packed = KAV_DEMO_SHOW;
  if (!std::filesystem::exists(packed)) GTEST_SKIP() << "no " << packed << " (the demo target was not built)";
  RegisterImageLoaders();
  std::u16string error;
  Ref<TKavShowLocator> locator = LoadPackedShow(UTF8Decode(packed), error);
  ASSERT_NE(locator, nullptr) << Utf8(error);
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  TShowCheckOptions options;
  options.DecodePictures = true;
  CheckShowProject(locator->Ini(), locator->Accessor(), options);
  SetShowProblemSink(nullptr);
  for (const TShowProblem& p : said) ADD_FAILURE() << p.Line << ": " << Utf8(ShowProblemText(p));
  PopAllShowLocators();
}

// The files of the show as the music player opens them.
struct TShowFiles {
  TFileAccessor* Files = nullptr;
  Ref<TStream> Open(const std::u16string& name) { return Files->OpenFile(name); }
};

TEST(DemoShow, ItsSoundsPlayWithoutAWordToItsAuthor) {
  // Every slide's sound (the spoken comment, the muted clip) is mixed from
  // the package: nothing may be said, the muted clip of a video without a
  // sound track included.
  const std::string packed = KAV_DEMO_SHOW;
  if (!std::filesystem::exists(packed)) GTEST_SKIP() << "no " << packed << " (the demo target was not built)";
  std::u16string error;
  Ref<TKavShowLocator> locator = LoadPackedShow(UTF8Decode(packed), error);
  ASSERT_NE(locator, nullptr) << Utf8(error);
  TKavSourceSetup setup;
  setup.ProgramFile = u"/usr/bin/kavplay";
  setup.RandomSeed = 1;
  auto music = MakeRef<TKavMusicSource>(locator->GetSource(setup));
  TShowFiles files{locator->Accessor()};
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  int comments = 0;
  for (int32_t i = 0; i < music->SlideCount(); ++i) {
    const std::u16string& comment = music->Slide(i).Comment;
    if (comment.empty()) continue;
    ++comments;
    auto conv = MakeRef<TCompositeConverter>(comment, TMusicOpenHandler::Bind<&TShowFiles::Open>(&files), nullptr);
    TMediaInfo info;
    ASSERT_TRUE(conv->SetInputFormat(info)) << "slide " << i + 1;
    for (int b = 0; b < 8 && conv->Convert(); ++b) conv->Output().Consume(conv->Output().Used());
  }
  SetShowProblemSink(nullptr);
  EXPECT_GE(comments, 1);
  for (const TShowProblem& p : said) ADD_FAILURE() << p.Line << ": " << Utf8(ShowProblemText(p));
  PopAllShowLocators();
}
#endif
