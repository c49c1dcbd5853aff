// Theme services: the element-code table, the binding's use count and
// pointers, the fall-back when visual styles are off, theme handles and
// their renewal after a theme change.
#include <gtest/gtest.h>

#include <cstdlib>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/wpExceptions.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav {
namespace {

TEST(ThemeElementDetails, CodesMapToPartsAndStates) {
  using D = TThemedElementDetails;
  // Codes 0 and 1 of every class are part 0.
  for (int32_t e = 0; e < teElementCount; ++e) {
    EXPECT_EQ(ThemeElementDetails(e, 1), (D{e, 0, 2})) << e;
    EXPECT_EQ(ThemeElementDetails(e, 0), (D{e, 0, 1})) << e;
  }
  EXPECT_EQ(ThemeElementDetails(teButton, 30), (D{teButton, 5, 1}));
  EXPECT_EQ(ThemeElementDetails(teScrollBar, 60), (D{teScrollBar, 1, 17}));
  EXPECT_EQ(ThemeElementDetails(teScrollBar, 63), (D{teScrollBar, 1, 20}));
  // Group edges of every class.
  const struct {
    int32_t element, code, part, state;
  } cases[] = {
      {teButton, 2, 1, 1},     {teButton, 7, 1, 6},     {teButton, 8, 2, 1},      {teButton, 15, 2, 8},
      {teButton, 16, 3, 1},    {teButton, 27, 3, 12},   {teButton, 28, 4, 1},     {teButton, 29, 4, 2},
      {teComboBox, 2, 1, 1},   {teComboBox, 5, 1, 4},   {teComboBox, 6, 0, 7},    {teEdit, 8, 1, 7},
      {teEdit, 9, 2, 1},       {teListView, 6, 1, 5},   {teListView, 7, 2, 1},    {teListView, 10, 5, 1},
      {teScrollBar, 17, 1, 16}, {teScrollBar, 18, 2, 1}, {teScrollBar, 57, 9, 5}, {teScrollBar, 58, 10, 1},
      {teScrollBar, 59, 10, 2}, {teScrollBar, 64, 0, 65}, {teSpin, 10, 3, 1},     {teSpin, 16, 4, 3},
      {teSpin, 17, 4, 4},      {teTab, 2, 1, 1},        {teTab, 24, 5, 3},        {teTab, 39, 8, 3},
      {teTab, 42, 9, 1},       {teTab, 43, 10, 1},      {teTab, 44, 0, 45},       {teToolBar, 7, 1, 6},
      {teToolBar, 20, 4, 1},   {teToolBar, 37, 6, 6},   {teToolBar, 38, 0, 39},   {teHeader, 5, 0, 6},
      {teButton, -1, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ThemeElementDetails(c.element, c.code), (D{c.element, c.part, c.state})) << c.element << "/" << c.code;
  EXPECT_EQ(std::u16string(ThemeClassName(teTab)), u"tab");
  EXPECT_EQ(std::u16string(ThemeClassName(teWindow)), u"window");
  EXPECT_EQ(std::u16string(ThemeClassName(24)), u"");
}

// A library description that counts what the binding does with it.
struct TFakeLibrary {
  static inline int loads = 0, frees = 0;
  static inline bool available = true, themed_entries = true;
  static inline uint32_t version = 0x60000;
  static bool Load() { ++loads; return available; }
  static void* GetProc(const char* name) {
    if (!themed_entries && (std::string(name) == "IsAppThemed" || std::string(name) == "IsThemeActive")) return nullptr;
    if (std::string(name) == "DrawThemeBackground") return nullptr;  // missing in this library
    return uxtheme::GetEntry(name);
  }
  static void Free() { ++frees; }
  static uint32_t Version() { return version; }
  static void Reset() { loads = frees = 0, available = true, themed_entries = true, version = 0x60000; }
};
const TUxThemeLibrary kFake = {&TFakeLibrary::Load, &TFakeLibrary::GetProc, &TFakeLibrary::Free,
                               &TFakeLibrary::Version};

class UxThemeBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    FinalizeUxTheme();
    TFakeLibrary::Reset();
    previous = SetUxThemeLibrary(&kFake);
  }
  void TearDown() override {
    FinalizeUxTheme();
    SetUxThemeLibrary(previous);
  }
  const TUxThemeLibrary* previous = nullptr;
};

TEST_F(UxThemeBinding, UseCountKeepsTheLibraryUntilTheLastRelease) {
  EXPECT_TRUE(LoadUxTheme());
  EXPECT_TRUE(LoadUxTheme());
  EXPECT_EQ(TFakeLibrary::loads, 1);
  EXPECT_EQ(UxThemeUseCount(), 2);
  EXPECT_NE(UxEntry(uxOpenThemeData), nullptr);
  EXPECT_EQ(UxEntry(uxDrawThemeBackground), nullptr);  // missing entries stay nil
  EXPECT_EQ(UxEntry(uxDrawThemeText), nullptr);
  FreeUxTheme();
  EXPECT_TRUE(UxThemeLibraryLoaded());
  EXPECT_NE(UxEntry(uxOpenThemeData), nullptr);
  EXPECT_EQ(TFakeLibrary::frees, 0);
  FreeUxTheme();
  EXPECT_FALSE(UxThemeLibraryLoaded());
  EXPECT_EQ(TFakeLibrary::frees, 1);
  for (int32_t i = 0; i < uxEntryCount; ++i) EXPECT_EQ(UxEntry(TUxEntry(i)), nullptr) << kUxEntryNames[i];
  // The count never goes below 0.
  FreeUxTheme();
  EXPECT_EQ(UxThemeUseCount(), 0);
  EXPECT_EQ(TFakeLibrary::frees, 1);
  EXPECT_FALSE(UxThemeLoaded());
  // Finalisation leaves until the count is 0.
  LoadUxTheme();
  LoadUxTheme();
  LoadUxTheme();
  FinalizeUxTheme();
  EXPECT_EQ(UxThemeUseCount(), 0);
  EXPECT_FALSE(UxThemeLibraryLoaded());
  EXPECT_STREQ(kUxEntryNames[0], "OpenThemeData");
  EXPECT_STREQ(kUxEntryNames[uxEntryCount - 1], "EnableTheming");
}

TEST_F(UxThemeBinding, MissingLibraryOrEntriesMeanNotThemed) {
  TFakeLibrary::available = false;
  EXPECT_FALSE(LoadUxTheme());
  EXPECT_EQ(UxThemeUseCount(), 1);
  EXPECT_FALSE(UxThemeLoaded());
  FreeUxTheme();
  EXPECT_EQ(TFakeLibrary::frees, 0);  // nothing was loaded
  TFakeLibrary::available = true;
  TFakeLibrary::themed_entries = false;
  EXPECT_TRUE(LoadUxTheme());
  EXPECT_FALSE(UxThemeLoaded());  // no IsAppThemed to call: not themed, no crash
  FreeUxTheme();
}

class ThemeServicesTest : public win::WindowTest {
 protected:
  void SetUp() override {
    win::WindowTest::SetUp();
    FinalizeThemeServices();
    FinalizeUxTheme();
    unsetenv(uxtheme::kStyleVariable);
    app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
  }
  void TearDown() override {
    FinalizeThemeServices();
    FinalizeUxTheme();
    SetUxThemeLibrary(nullptr);
    unsetenv(uxtheme::kStyleVariable);
    if (app && !app->Finalized()) app->Finalize();
    app = nullptr;
    win::WindowTest::TearDown();
  }
  Ref<TVxApplication> app;
};

TEST_F(ThemeServicesTest, OldCommonControlsTurnThemesOffWithoutLoadingTheLibrary) {
  TFakeLibrary::Reset();
  TFakeLibrary::version = 0x50051;
  SetUxThemeLibrary(&kFake);
  LoadUxTheme();  // another user of the binding
  TFakeLibrary::loads = 0;
  TThemeServices* s = ThemeServices();
  EXPECT_FALSE(s->ComCtl6());
  EXPECT_FALSE(s->UxThemeBound());
  EXPECT_FALSE(s->ThemesEnabled());
  EXPECT_EQ(TFakeLibrary::loads, 0);
  EXPECT_EQ(UxThemeUseCount(), 1);
  EXPECT_EQ(s->GetTheme(teButton), 0u);
  // The services never entered the binding, so they do not leave it either:
  // the other user keeps its use.
  FinalizeThemeServices();
  EXPECT_EQ(UxThemeUseCount(), 1);
  FreeUxTheme();
}

TEST_F(ThemeServicesTest, MissingDrawEntryFailsCleanly) {
  TFakeLibrary::Reset();
  SetUxThemeLibrary(&kFake);
  ASSERT_TRUE(ThemeServices()->ThemesEnabled());
  EXPECT_NE(ThemeServices()->GetTheme(teButton), 0u);
  Ref<TSysBitmap> b = CreateSysBitmap(20, 20, StdFormats().A8R8G8B8);
  EXPECT_EQ(ThemeDrawBackground(ThemeElementDetails(teButton, 2), b.get(), TRect{0, 0, 20, 20}, nullptr),
            uxtheme::E_FAIL);
  TRect content;
  EXPECT_EQ(ThemeCallEntry(ThemeElementDetails(teButton, 2), nullptr, TRect{0, 0, 20, 20}, content), uxtheme::S_OK);
}

TEST_F(ThemeServicesTest, HandlesAreOpenedOnceDrawnThroughAndRenewedOnThemeChange) {
  const int32_t open_before = uxtheme::OpenThemeCount();
  TThemeServices* s = ThemeServices();
  ASSERT_TRUE(s->ComCtl6());
  ASSERT_TRUE(s->ThemesEnabled());
  EXPECT_EQ(UxThemeUseCount(), 1);
  const uxtheme::HTHEME h = s->GetTheme(teButton);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(s->GetTheme(teButton), h);
  EXPECT_EQ(s->GetTheme(teClock), 0u);  // a class the style does not draw
  EXPECT_EQ(s->GetTheme(-1), 0u);
  EXPECT_EQ(s->GetTheme(teElementCount), 0u);

  Ref<TSysBitmap> b = CreateSysBitmap(30, 20, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, 30, 20}, 0);
  ASSERT_EQ(ThemeDrawBackgroundNoClip(ThemeElementDetails(teButton, 2), b.get(), TRect{0, 0, 30, 20}), uxtheme::S_OK);
  EXPECT_EQ(b->PixelAddress(15, 10)[3], 255);
  TSize size;
  ASSERT_EQ(ThemeGetPartSize(ThemeElementDetails(teButton, 16), nullptr, nullptr, uxtheme::TS_TRUE, size),
            uxtheme::S_OK);
  EXPECT_GT(size.cx, 0);
  EXPECT_TRUE(ThemeIsPartDefined(ThemeElementDetails(teTab, 42)));
  int32_t chunk = 0;
  EXPECT_TRUE(ThemeGetInt(TThemedElementDetails{teProgress, 3, 1}, uxtheme::TMT_PROGRESSCHUNKSIZE, chunk));

  // A theme change closes the old handles and tells the owner; the next use
  // opens a new one, and the old number is refused from then on.
  int changes = 0;
  struct TCounter {
    int* n;
    void On(TThemeServices*) { ++*n; }
  } counter{&changes};
  s->OnThemeChange = TDelegate<void(TThemeServices*)>::Bind<&TCounter::On>(&counter);
  win::SendMessage(app->GetHandle(), 794, 0, 0);
  EXPECT_EQ(changes, 1);
  const uxtheme::HTHEME renewed = s->GetTheme(teButton);
  EXPECT_NE(renewed, 0u);
  EXPECT_NE(renewed, h);
  EXPECT_FALSE(uxtheme::IsThemePartDefined(h, 1, 1));

  // With the style switched off no handle is handed out, not even a cached one.
  setenv(uxtheme::kStyleVariable, "classic", 1);
  EXPECT_FALSE(s->ThemesEnabled());
  EXPECT_EQ(s->GetTheme(teButton), 0u);
  EXPECT_EQ(ThemeDrawBackground(ThemeElementDetails(teButton, 2), b.get(), TRect{0, 0, 30, 20}, nullptr),
            uxtheme::E_FAIL);
  unsetenv(uxtheme::kStyleVariable);

  // Destruction closes every handle and releases the binding.
  FinalizeThemeServices();
  EXPECT_EQ(uxtheme::OpenThemeCount(), open_before);
  EXPECT_EQ(UxThemeUseCount(), 0);
  EXPECT_EQ(changes, 1);
}

TEST_F(ThemeServicesTest, CreatingWithoutTheApplicationIsAnAssertion) {
  app->Finalize();
  app = nullptr;
  ASSERT_EQ(Application(), nullptr);
  EXPECT_THROW(ThemeServices(), EAbort);
  EXPECT_EQ(UxThemeUseCount(), 0);  // a failed creation leaves no use of the library
}

}  // namespace
}  // namespace kav
