#include <gtest/gtest.h>

#include <memory>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxMemoryStream.h"

using namespace kav;
using namespace kav::test;

namespace {

// Test loaders accept streams that start with their tag byte and note the
// order in which they were asked.
std::string g_asked;

template <char kTag>
Ref<TBitmapStore> TagLoader(TStream* stream, const std::u16string& name, bool owns, const TImageParamsCallback& cb) {
  Ref<TStream> taken = owns ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  g_asked += kTag;
  const int64_t at = stream->GetPosition();
  const bool mine = stream->ReadByte() == uint8_t(kTag);
  stream->SetPosition(at);
  if (!mine) return nullptr;
  Ref<TSysBitmap> b = CreateSysBitmap(2, 2, StdFormats().R8G8B8);
  return MakeRef<TWrapperBitmapStore>(name, cb, false, b.get());
}

Ref<TMemoryStream> StreamOf(std::vector<uint8_t> bytes) {
  auto s = MakeRef<TMemoryStream>();
  s->Write(bytes, int64_t(bytes.size()));
  s->SetPosition(0);
  return s;
}

// The test loaders for one test; the registry is as before afterwards, so
// the decoders' own tests in the same process never meet them.
struct TTestLoaders {
  TTestLoaders() {
    RegisterImageLoader(&TagLoader<'a'>, {u"*.tsa", u" *.bmp"});
    RegisterImageLoader(&TagLoader<'p'>, {u"tsp", u".png"});
    RegisterImageLoader(&TagLoader<'\x89'>, {u".png"});
  }
  ~TTestLoaders() {
    UnregisterImageLoader(&TagLoader<'a'>);
    UnregisterImageLoader(&TagLoader<'p'>);
    UnregisterImageLoader(&TagLoader<'\x89'>);
  }
};

Ref<TStream> g_file;
Ref<TStream> OpenTestFile(const std::u16string& name) { return name == u"pic.tsa" ? g_file : nullptr; }

}  // namespace

TEST(ImageRegistry, ExtensionMasks) {
  EXPECT_EQ(NormalizeExtensionMask(u"*.jpg"), u".jpg");
  EXPECT_EQ(NormalizeExtensionMask(u"jpg"), u".jpg");
  EXPECT_EQ(NormalizeExtensionMask(u".jpg"), u".jpg");
  EXPECT_EQ(NormalizeExtensionMask(u" *.gif"), u".gif");
  EXPECT_EQ(NormalizeExtensionMask(u".gif|framesatlas"), u".gif|framesatlas");
  EXPECT_EQ(ImageNameExtension(u"a.b\\pic.JPG"), u".JPG");
  EXPECT_EQ(ImageNameExtension(u"a.b\\pic"), u"");
  EXPECT_EQ(ImageNameExtension(u"anim.gif|framesatlas"), u".gif|framesatlas");
  EXPECT_EQ(ImageNameExtension(u""), u"");
}

TEST(ImageRegistry, TrialOrderAndExtensions) {
  const int32_t before = ImageLoaderCount();
  auto loaders = std::make_unique<TTestLoaders>();
  const int32_t first = ImageLoaderCount() - 3;
  EXPECT_TRUE(LoaderAcceptsExtension(first, u".TSA"));
  EXPECT_TRUE(LoaderAcceptsExtension(first, u".bmp"));
  EXPECT_FALSE(LoaderAcceptsExtension(first + 1, u".bmp"));

  g_asked.clear();
  EXPECT_TRUE(LoadBitmapStore(StreamOf({'p', 1}).get(), u"x.tsp", false, {}));
  EXPECT_EQ(g_asked, "p");
  // PNG data goes to the ".png" loaders under any other picture name, in
  // any case; data of no known kind goes by the name.
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0};
  for (const char16_t* name : {u"x.bmp", u"x.BMP", u"x.tsa", u"x.jpg"}) {
    g_asked.clear();
    Ref<TMemoryStream> s = StreamOf(png);
    EXPECT_TRUE(LoadBitmapStore(s.get(), name, false, {}));
    EXPECT_EQ(g_asked.back(), '\x89');
    EXPECT_EQ(g_asked.find('a'), std::string::npos);
    EXPECT_EQ(s->GetPosition(), 0);
  }
  g_asked.clear();
  EXPECT_FALSE(LoadBitmapStore(StreamOf({'z', 'z'}).get(), u"x.BMP", false, {}));
  EXPECT_NE(g_asked.find('a'), std::string::npos);
  EXPECT_EQ(g_asked.find('\x89'), std::string::npos);
  EXPECT_EQ(PictureDataExtension(StreamOf({0xFF, 0xD8, 0xFF, 0xE0}).get(), u"a.b\\pic.PNG"), u".jpg");
  EXPECT_EQ(PictureDataExtension(StreamOf({0xFF, 0xD8, 0xFF, 0xE0}).get(), u"pic.JPEG"), u".JPEG");
  EXPECT_EQ(PictureDataExtension(StreamOf({'G', 'I', 'F', '8', '9', 'a'}).get(), u"a.gif_first_frame"),
            u".gif_first_frame");
  EXPECT_EQ(PictureDataExtension(StreamOf({'V', 'X', 'G', 'F'}).get(), u"pic.png"), u".png");
  EXPECT_EQ(PictureDataExtension(StreamOf(png).get(), u"noext"), u"");
  // Without an extension every loader is asked, in registration order.
  g_asked.clear();
  EXPECT_TRUE(LoadImage(StreamOf(png).get(), u"noext", false));
  EXPECT_EQ(g_asked.substr(g_asked.size() - 3), "ap\x89");
  loaders.reset();
  EXPECT_EQ(ImageLoaderCount(), before);
}

TEST(ImageRegistry, StreamOwnershipAndFiles) {
  TTestLoaders loaders;
  // A handed-over stream is released whether a loader takes it or not.
  for (uint8_t tag : {uint8_t('a'), uint8_t('z')}) {
    Ref<TMemoryStream> s = StreamOf({tag});
    RefAddRef(s.get());
    Ref<TImage> image = LoadImage(s.get(), u"x.tsa", true);
    EXPECT_EQ(bool(image), tag == 'a');
    EXPECT_EQ(s->RefCount(), 1);
  }
  // Files open through the file-open hook; an unopenable or failing file is null.
  TReadFileHook previous = SetReadFileHook(&OpenTestFile);
  g_file = StreamOf({'a'});
  Ref<TImage> image = LoadImageFromFile(u"pic.tsa");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Params().Name, u"pic.tsa");
  EXPECT_FALSE(LoadImageFromFile(u"missing.tsa"));
  g_file = StreamOf({});  // the loader's ReadByte raises
  EXPECT_FALSE(LoadImageFromFile(u"pic.tsa"));
  // A loader that raises declines, from files and streams alike: the next
  // loader is asked at the same position.
  g_asked.clear();
  EXPECT_FALSE(LoadImage(StreamOf({}).get(), u"x.png", false));
  EXPECT_EQ(g_asked, "p\x89");
  Ref<TMemoryStream> late = StreamOf({'z', 0x89});
  late->SetPosition(1);
  EXPECT_TRUE(LoadImage(late.get(), u"x.png", false));
  g_file = nullptr;
  SetReadFileHook(previous);

  Ref<TMemoryStream> s = StreamOf({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
  // The PNG signature is looked for at the stream's position, which is kept.
  s->SetPosition(0);
  EXPECT_EQ(PictureDataExtension(s.get(), u"x.bmp"), u".png");
  EXPECT_EQ(s->GetPosition(), 0);
  s->SetPosition(1);
  EXPECT_EQ(PictureDataExtension(s.get(), u"x.bmp"), u".bmp");
  EXPECT_EQ(s->GetPosition(), 1);
}
