#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "KavLib2/KavDialogs/KavDialogs.h"
#include "KavLib2/KavDialogs/winDpiMetrics.h"
#include "KavLib2/KavPrint/Printers.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/Composite/winDialogHost.h"
#include "VoRav/Composite/winThemedControls.h"
#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxIni.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxUTF8.h"
#include "platform/dialogs/FakeChooser.h"
#include "platform/print/cups/CupsSpooler.h"
#include "platform/print/fake/FakeSpooler.h"
#include "tests/KavLib2/KavPrint/PrivateCups.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

using namespace kav;
namespace fs = std::filesystem;

namespace {

// The items of a built template: (id, style, title) in order, and the font.
struct TReadBack {
  win::TDialogTemplate T;
  explicit TReadBack(const std::vector<uint8_t>& bytes) { EXPECT_TRUE(win::ParseDialogTemplate(bytes.data(), bytes.size(), T)); }
};

Ref<TIniFile> Options(const std::u16string& text) {
  Ref<TIniFile> ini = MakeRef<TIniFile>();
  EXPECT_TRUE(ini->LoadFromBytes(WideToSystemUTF8(text)));
  return ini;
}

Ref<TImage> SolidImage(int32_t w, int32_t h, uint32_t argb) {
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, argb);
  return ImageFromBitmap(b.get(), false, u"");
}

void WritePng(const fs::path& path, int32_t w, int32_t h, uint32_t argb) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(w);
  image.height = uint32_t(h);
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint32_t> pixels(size_t(w) * size_t(h), argb);
  ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), w * 4, nullptr), 0);
}

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class PrintDialogTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    InitDpiMetrics();
    RegisterImageLoaders();
    InitializeThemedControls();
    spooler = std::make_shared<print::TFakeSpooler>();
    print::TFakePrinter a;
    a.Name = "Office";
    print::TFakePrinter b;
    b.Name = "Photo";
    spooler->PrinterList = {a, b};
    spooler->Default = "Office";
    previous_spooler = print::SetPrintSpooler(spooler);
    FreePrinter();
    auto chooser = std::make_unique<dialogs::TFakeChooser>(std::vector<dialogs::TSaveFileAnswer>{});
    this->chooser = chooser.get();
    dialogs::SetSaveFileChooser(std::move(chooser));
    dir = fs::temp_directory_path() / ("kav_print_dialog_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // A window that acts while the modal dialog runs.
    win::TWndClass wc;
    wc.class_name = u"PrintDialogDriver";
    wc.proc = win::TWndProc::Bind<&PrintDialogTest::DriverProc>(this);
    win::RegisterClass(wc);
    driver = win::CreateWindowEx(0, u"PrintDialogDriver", u"driver", 0, 0, 0, 10, 10, 0, 0, nullptr);
  }
  void TearDown() override {
    dialogs::SetSaveFileChooser(nullptr);
    FreePrinter();
    print::SetPrintSpooler(previous_spooler);
    FinalizeThemedControls();
    fs::remove_all(dir);
    AppTest::TearDown();
  }
  win::LRESULT DriverProc(win::HWND h, uint32_t m, win::WPARAM w, win::LPARAM l) {
    if (m == win::WM_APP && act) {
      const win::HWND dialog = win::GetActiveWindow();
      std::function<void(win::HWND)> a = act;
      act = nullptr;
      a(dialog);
      return 0;
    }
    return win::DefWindowProc(h, m, w, l);
  }
  // Runs the dialog; `what` acts on it once it is shown.
  intptr_t Run(TKavPrintDialog* dialog, std::function<void(win::HWND)> what) {
    act = std::move(what);
    win::PostMessage(driver, win::WM_APP, 0, 0);
    return dialog->ShowModal(0);
  }
  static void Click(win::HWND dialog, int32_t id) { win::SendMessage(win::GetDlgItem(dialog, id), win::BM_CLICK, 0, 0); }
  // The item window of "Only Main Image" (the one item without an id).
  static win::HWND MainImageItem(win::HWND dialog) {
    win::HWND box = win::FindWindowExA(dialog, 0, nullptr, nullptr);
    while (box && win::GetDlgCtrlID(box) != 0) box = win::FindWindowExA(dialog, box, nullptr, nullptr);
    return box;
  }
  static void CheckMainImage(win::HWND dialog) {
    win::SendMessage(MainImageItem(dialog), win::BM_SETCHECK, win::BST_CHECKED, 0);
  }
  // A key pressed and let go as the window backend brings it (Tab and
  // Return with their characters).
  static void Press(uint16_t vk) {
    win::InjectKey(vk, true);
    if (vk == win::VK_TAB) win::InjectChar(u'\t');
    if (vk == win::VK_RETURN) win::InjectChar(u'\r');
    win::InjectKey(vk, false);
  }
  // Acts on the dialog once the input queued so far is handled.
  void Then(std::function<void(win::HWND)> what) {
    act = std::move(what);
    win::PostMessage(driver, win::WM_APP, 0, 0);
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& c : *spooler->Calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }
  std::string Find(const std::string& prefix) const {
    for (const std::string& c : *spooler->Calls)
      if (c.rfind(prefix, 0) == 0) return c;
    return {};
  }

  std::shared_ptr<print::TFakeSpooler> spooler;
  std::shared_ptr<print::TPrintSpooler> previous_spooler;
  dialogs::TFakeChooser* chooser = nullptr;
  fs::path dir;
  win::HWND driver = 0;
  std::function<void(win::HWND)> act;
};

// A callback over a fixed picture (nil: no picture at all).
struct TFixedPicture {
  Ref<TImage> Main, Shown;
  int32_t Slide = 4;
  static bool Call(void* context, int32_t kind, int32_t& slide, std::u16string& name, TStream*, TFastDIB* dib) {
    auto* p = static_cast<TFixedPicture*>(context);
    slide = p->Slide;
    name.clear();
    return ImageToDib(kind == kPrintImageMain ? p->Main.get() : p->Shown.get(), dib);
  }
};

}  // namespace

TEST_F(PrintDialogTest, TheTemplateHoldsThreeOrFourItemsWithTheShowsTexts) {
  TFixedPicture pictures;
  Ref<TIniFile> plain = Options(u"[Main]\n");
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(plain.get(), &TFixedPicture::Call, &pictures);
  TReadBack r(d->BuildTemplate());
  EXPECT_EQ(r.T.style, 0x94C809C5u);
  EXPECT_EQ(r.T.caption, u"Print");
  EXPECT_EQ(r.T.point_size, 8);  // 96 dpi
  EXPECT_EQ(r.T.face, u"MS Shell Dlg 2");
  EXPECT_EQ(r.T.cx, 282);
  EXPECT_EQ(r.T.cy, 86);
  // Without "CanRestore": Print, Change Printer, the check box (the Tab
  // order: row by row, left to right).
  ASSERT_EQ(r.T.items.size(), 3u);
  EXPECT_EQ(r.T.items[0].id, kPrintCmdPrint);
  EXPECT_EQ(r.T.items[0].title, u"Print");
  EXPECT_EQ(r.T.items[0].x, 12);
  EXPECT_EQ(r.T.items[0].cx, 125);
  EXPECT_EQ(r.T.items[1].id, kPrintCmdChangePrinter);
  EXPECT_EQ(r.T.items[1].title, u"Change Printer");
  EXPECT_EQ(r.T.items[1].x, 12);
  EXPECT_EQ(r.T.items[1].y, 49);
  EXPECT_EQ(r.T.items[2].id, 0);
  EXPECT_EQ(r.T.items[2].style & win::BS_TYPEMASK, uint32_t(win::BS_AUTOCHECKBOX));
  EXPECT_EQ(r.T.items[2].title, u"Only Main Image");
  EXPECT_EQ(r.T.items[2].x, 145);
  EXPECT_EQ(r.T.items[2].y, 49);
  for (const auto& item : r.T.items) EXPECT_EQ(item.style & 0xF0000000u, 0x50000000u);

  Ref<TIniFile> translated = Options(
      u"[Main]\nCanRestore=1\nopt_lng_print_button5=Drucken\nopt_lng_print_button6=Speichern\n"
      u"opt_lng_print_button7=Nur Hauptbild\nopt_lng_print_label=Drucker wechseln\nopt_lng_print_caption=Druck\n");
  Ref<TKavPrintDialog> d2 = MakeRef<TKavPrintDialog>(translated.get(), &TFixedPicture::Call, &pictures);
  TReadBack r2(d2->BuildTemplate());
  ASSERT_EQ(r2.T.items.size(), 4u);
  EXPECT_EQ(r2.T.caption, u"Druck");
  EXPECT_EQ(r2.T.items[0].title, u"Drucken");
  EXPECT_EQ(r2.T.items[1].id, kPrintCmdSave);
  EXPECT_EQ(r2.T.items[1].title, u"Speichern");
  EXPECT_EQ(r2.T.items[1].x, 145);
  EXPECT_EQ(r2.T.items[1].y, 12);
  EXPECT_EQ(r2.T.items[2].title, u"Drucker wechseln");
  EXPECT_EQ(r2.T.items[3].title, u"Nur Hauptbild");
}

TEST(DialogFont, EightPointsAt96AndNineAt120) {
  EXPECT_EQ(DialogFontPoints(96), 8);
  EXPECT_EQ(DialogFontPoints(120), 9);
  EXPECT_EQ(DialogFontPoints(144), 12);
  EXPECT_EQ(DialogFontPoints(72), 6);
}

TEST_F(PrintDialogTest, PrintSendsTheSlideCentredAndFittedInItsOrientation) {
  TFixedPicture pictures;
  Ref<TIniFile> options = Options(u"[Main]\n");
  // A portrait picture prints in portrait: 300 x 600 on the 2380 x 3408 page.
  pictures.Shown = SolidImage(300, 600, 0xFF2040C0u);
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdPrint); }), 1);
  EXPECT_EQ(Count("StartDoc Slideshow"), 1);
  EXPECT_EQ(Count("EndDoc"), 1);
  EXPECT_EQ(Count("AbortDoc"), 0);
  // w = 300 x 3408 / 600 = 1704 (narrower than the page): h = 3408, x = (2380 - 1704) / 2.
  EXPECT_EQ(Find("StretchDIBits"), "StretchDIBits 338 0 1704 3408 300x600");
  EXPECT_EQ(Printer()->Orientation(), TPrinterOrientation::Portrait);
  ASSERT_FALSE(spooler->LastPicture->empty());
  EXPECT_EQ(spooler->LastPicture->front(), 0x2040C0u);

  // A square one too; a wide one in landscape, fitted to the width.
  spooler->Calls->clear();
  pictures.Shown = SolidImage(400, 400, 0xFF808080u);
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdPrint); }), 1);
  EXPECT_EQ(Printer()->Orientation(), TPrinterOrientation::Portrait);
  spooler->Calls->clear();
  pictures.Shown = SolidImage(800, 200, 0xFF808080u);
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdPrint); }), 1);
  EXPECT_EQ(Printer()->Orientation(), TPrinterOrientation::Landscape);
  const TRect r = PrintPlacement(800, 200, Printer()->PageWidth(), Printer()->PageHeight());
  EXPECT_EQ(Find("StretchDIBits"), "StretchDIBits " + std::to_string(r.Left) + " " + std::to_string(r.Top) + " " +
                                       std::to_string(r.Width()) + " " + std::to_string(r.Height()) + " 800x200");
}

TEST_F(PrintDialogTest, OnlyMainImagePrintsTheMainImageAndFallsBackToTheShownOne) {
  TFixedPicture pictures;
  Ref<TIniFile> options = Options(u"[Main]\n");
  pictures.Main = SolidImage(100, 50, 0xFFFF0000u);
  pictures.Shown = SolidImage(100, 50, 0xFF00FF00u);
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
  Run(d.get(), [](win::HWND h) {
    CheckMainImage(h);
    Click(h, kPrintCmdPrint);
  });
  ASSERT_FALSE(spooler->LastPicture->empty());
  EXPECT_EQ(spooler->LastPicture->front(), 0xFF0000u);
  EXPECT_TRUE(d->MainImageBox()->Checked());  // read back as the dialog went
  pictures.Main = nullptr;
  Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdPrint); });
  EXPECT_EQ(spooler->LastPicture->front(), 0x00FF00u);
}

TEST_F(PrintDialogTest, ACallbackWithoutAnImagePrintsAndSavesNothingAndCloses) {
  TFixedPicture pictures;  // no pictures at all
  Ref<TIniFile> options = Options(u"[Main]\nCanRestore=1\n");
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdPrint); }), 1);
  EXPECT_EQ(Count("StartDoc"), 0);
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdSave); }), 1);
  EXPECT_TRUE(chooser->requests.empty());
  // Esc and the close box cancel without a word to the printer.
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { win::SendMessage(h, win::WM_KEYDOWN, win::VK_ESCAPE, 0); }), win::IDCANCEL);
  EXPECT_TRUE(spooler->Calls->empty() || Count("StartDoc") == 0);
}

// Return with the focus on "Only Main Image" (Tab three times from Print),
// ticked or not: no button has the focus and the dialog has no default
// one, so Return does nothing; the dialog stays open until Esc, nothing is
// printed or saved. Return on a button clicks that one.
TEST_F(PrintDialogTest, ReturnOnOnlyMainImageDoesNothingAndOnAButtonClicksIt) {
  TFixedPicture pictures;
  pictures.Shown = SolidImage(40, 30, 0xFF336699u);
  pictures.Main = SolidImage(40, 30, 0xFF996633u);
  Ref<TIniFile> options = Options(u"[Main]\nCanRestore=1\n");
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
  for (bool ticked : {false, true}) {
    bool on_box = false, open_after_return = false;
    const intptr_t result = Run(d.get(), [&](win::HWND) {
      for (int i = 0; i < 3; ++i) Press(win::VK_TAB);
      Then([&](win::HWND h) {
        TFrameControl* box = DialogItemControl(MainImageItem(h));
        on_box = box && box->Focused();
        if (ticked) CheckMainImage(h);
        Press(win::VK_RETURN);
        Then([&](win::HWND h) {
          open_after_return = true;
          win::SendMessage(h, win::WM_KEYDOWN, win::VK_ESCAPE, 0);
        });
      });
    });
    act = nullptr;
    EXPECT_TRUE(on_box) << "ticked " << ticked << ": Tab three times did not reach the check box";
    EXPECT_TRUE(open_after_return) << "ticked " << ticked << ": Return closed the dialog";
    EXPECT_EQ(result, win::IDCANCEL);
    EXPECT_EQ(d->MainImageBox()->Checked(), ticked);
  }
  EXPECT_EQ(Count("StartDoc"), 0);
  EXPECT_TRUE(chooser->requests.empty());
  // Return on Print (the first item has the focus) prints the main image.
  EXPECT_EQ(Run(d.get(), [](win::HWND) { Press(win::VK_RETURN); }), 1);
  EXPECT_EQ(Count("StartDoc Slideshow"), 1);
  ASSERT_FALSE(spooler->LastPicture->empty());
  EXPECT_EQ(spooler->LastPicture->front(), 0x996633u);
}

TEST_F(PrintDialogTest, SaveProposesSlideNAndWritesABmp) {
  TFixedPicture pictures;
  pictures.Shown = SolidImage(40, 30, 0xFF336699u);
  Ref<TIniFile> options = Options(u"[Main]\nCanRestore=1\n");
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
  // Cancelled: nothing written.
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdSave); }), 1);
  ASSERT_EQ(chooser->requests.size(), 1u);
  EXPECT_EQ(chooser->requests[0].proposed_name, "Slide5.bmp");
  EXPECT_EQ(chooser->requests[0].default_extension, "bmp");
  EXPECT_TRUE(chooser->requests[0].overwrite_prompt);
  EXPECT_TRUE(fs::is_empty(dir));
  // Confirmed: a BMP of the shown slide.
  const fs::path target = dir / "Slide5.bmp";
  dialogs::SetSaveFileChooser(std::make_unique<dialogs::TFakeChooser>(
      std::vector<dialogs::TSaveFileAnswer>{{dialogs::TSaveFileOutcome::kChosen, target.string(), {}}}));
  EXPECT_EQ(Run(d.get(), [](win::HWND h) { Click(h, kPrintCmdSave); }), 1);
  const std::string bmp = ReadAll(target);
  ASSERT_GE(bmp.size(), 54u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  Ref<TImage> back = LoadImageFromFile(SystemUTF8ToWide(target.string()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Width(), 40);
}

TEST_F(PrintDialogTest, TheMainImageFileIsSavedAsItIsOrAsABmpUnderItsBaseName) {
  // The show's files, read through an accessor as the player reads them.
  const fs::path show = dir / "show";
  fs::create_directories(show / "Photos");
  const std::string jpeg_bytes = std::string("\xFF\xD8\xFF\xE0 not decoded, copied", 24);
  std::ofstream(show / "Photos" / "sea.jpg", std::ios::binary) << jpeg_bytes;
  WritePng(show / "Photos" / "hill.png", 20, 10, 0xFF00A000u);
  WritePng(show / "Photos" / "field.jpg", 12, 6, 0xFF00A000u);  // a PNG under a JPEG's name
  Ref<TIniFile> project = Options(u"[Main]\nCanRestore=1\n[slide1]\npicture=" +
                                  SystemUTF8ToWide((show / "Photos" / "sea.jpg").string()) + u"\n[slide2]\npicture=" +
                                  SystemUTF8ToWide((show / "Photos" / "hill.png").string()) + u"\n[slide3]\npicture=" +
                                  SystemUTF8ToWide((show / "Photos" / "field.jpg").string()) + u"\n");
  Ref<TRealFileSource> source = MakeRef<TRealFileSource>();
  Ref<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  Ref<TImage> shown = SolidImage(8, 8, 0xFF000000u);
  const fs::path out = dir / "out";
  fs::create_directories(out);

  auto save_main = [&](int32_t slide, const fs::path& target) {
    dialogs::SetSaveFileChooser(std::make_unique<dialogs::TFakeChooser>(
        std::vector<dialogs::TSaveFileAnswer>{{dialogs::TSaveFileOutcome::kChosen, target.string(), {}}}));
    TPrintImageContext context{project.get(), accessor.get(), shown.get(), slide};
    Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(project.get(), &PrintImageCallback, &context);
    return Run(d.get(), [](win::HWND h) {
      CheckMainImage(h);
      Click(h, kPrintCmdSave);
    });
  };
  // A JPEG: its bytes unchanged, under its own (base) name.
  EXPECT_EQ(save_main(0, out / "sea.jpg"), 1);
  EXPECT_EQ(ReadAll(out / "sea.jpg"), jpeg_bytes);
  // Another format: decoded and written as a BMP, the name's extension ".bmp".
  EXPECT_EQ(save_main(1, out / "hill.bmp"), 1);
  const std::string bmp = ReadAll(out / "hill.bmp");
  ASSERT_GE(bmp.size(), 54u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");

  // What the callback hands the dialog, directly.
  TPrintImageContext context{project.get(), accessor.get(), shown.get(), 1};
  Ref<TMemoryStream> stream = MakeRef<TMemoryStream>();
  int32_t slide = -1;
  std::u16string name;
  ASSERT_TRUE(PrintImageCallback(&context, kPrintImageMainFile, slide, name, stream.get(), nullptr));
  EXPECT_EQ(slide, 1);
  EXPECT_EQ(ProposedBaseName(name), u"hill.bmp");
  EXPECT_EQ(stream->GetPosition(), 0);
  Ref<TFastDIB> dib = MakeRef<TFastDIB>();
  ASSERT_TRUE(PrintImageCallback(&context, kPrintImageMain, slide, name, nullptr, dib.get()));
  EXPECT_EQ(dib->Width(), 20);
  // A PNG named ".jpg" is no JPEG to copy: it is saved as a BMP too.
  context.Slide = 2;
  Ref<TMemoryStream> png_as_jpeg = MakeRef<TMemoryStream>();
  ASSERT_TRUE(PrintImageCallback(&context, kPrintImageMainFile, slide, name, png_as_jpeg.get(), nullptr));
  EXPECT_EQ(ProposedBaseName(name), u"field.bmp");
  std::string head(2, '\0');
  png_as_jpeg->Read(std::span<uint8_t>(reinterpret_cast<uint8_t*>(head.data()), 2), 2);
  EXPECT_EQ(head, "BM");
  // A slide without a picture, or a missing file: nothing.
  context.Slide = 7;
  EXPECT_FALSE(PrintImageCallback(&context, kPrintImageMain, slide, name, nullptr, dib.get()));
  EXPECT_FALSE(PrintImageCallback(&context, kPrintImageMainFile, slide, name, stream.get(), nullptr));
}

TEST(PrintDialogNames, ANameFromTheShowIsProposedOnlyByItsLastPart) {
  EXPECT_EQ(ProposedBaseName(u"Photos\\sea.jpg"), u"sea.jpg");
  EXPECT_EQ(ProposedBaseName(u"..\\..\\etc/passwd"), u"passwd");
  EXPECT_EQ(ProposedBaseName(u"/abs/path/x.png"), u"x.png");
  EXPECT_EQ(ProposedBaseName(u"a/.."), u"");
  EXPECT_EQ(ProposedBaseName(u"plain.jpg"), u"plain.jpg");
}

TEST_F(PrintDialogTest, ChangePrinterChoosesAPrinterAndAnOrientation) {
  TFixedPicture pictures;
  Ref<TIniFile> options = Options(u"[Main]\n");
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
  EXPECT_EQ(Printer()->PrinterIndex(), 0);  // the default, "Office"
  const intptr_t result = Run(d.get(), [this](win::HWND h) {
    // The printer choice opens over the print dialog; this acts on it.
    act = [](win::HWND choice) {
      // Items: the printers' list and the printers, Portrait, Landscape, OK, Cancel.
      win::HWND photo = win::FindWindowExA(choice, 0, nullptr, "Photo");
      ASSERT_NE(photo, 0u);
      win::SendMessage(photo, win::BM_CLICK, 0, 0);
      win::HWND landscape = win::FindWindowExA(choice, 0, nullptr, "Landscape");
      win::SendMessage(landscape, win::BM_CLICK, 0, 0);
      Click(choice, win::IDOK);
    };
    win::PostMessage(driver, win::WM_APP, 0, 0);
    Click(h, kPrintCmdChangePrinter);
    // The print dialog stays open after the choice; Esc closes it.
    win::SendMessage(h, win::WM_KEYDOWN, win::VK_ESCAPE, 0);
  });
  EXPECT_EQ(result, win::IDCANCEL);
  EXPECT_EQ(Printer()->PrinterIndex(), 1);
  EXPECT_EQ(Printer()->Orientation(), TPrinterOrientation::Landscape);
}

namespace {

// Print and Change Printer against a scheduler that answers a byte every
// 2 s (the spooler's own limit per call far longer): each request ends
// within its few seconds in all and says that the print system did not
// answer; the next request asks again.
TEST_F(PrintDialogTest, ARequestToASchedulerThatTricklesEndsByItsDeadlineAndSaysSo) {
  using namespace std::chrono_literals;
  char templ[] = "/tmp/kavcups.XXXXXX";
  const fs::path home = mkdtemp(templ);
  testcups::TFakeScheduler scheduler(2000ms);
  testcups::TPrivateCups::PointClientAt(scheduler.Port(), home);
  print::SetPrintSpooler(std::make_shared<print::TCupsSpooler>(600000));
  FreePrinter();
  TFixedPicture pictures;
  pictures.Shown = SolidImage(40, 30, 0xFF2040E0);
  Ref<TIniFile> options = Options(u"[Main]\n");
  const std::u16string silent = u"The print system did not answer in time";
  // Generous for a loaded machine under ASan; without the deadline the
  // requests never end.
  const auto bound = 6s + 8s;
  for (const int32_t command : {kPrintCmdPrint, kPrintCmdChangePrinter, kPrintCmdPrint}) {
    SCOPED_TRACE(command);
    win::NullBackend()->Boxes.clear();
    Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
    std::chrono::steady_clock::duration took{};
    Run(d.get(), [&](win::HWND h) {
      const auto start = std::chrono::steady_clock::now();
      Click(h, command);
      took = std::chrono::steady_clock::now() - start;
      if (win::IsWindow(h)) win::SendMessage(h, win::WM_KEYDOWN, win::VK_ESCAPE, 0);
    });
    EXPECT_LT(took, bound);
    ASSERT_EQ(win::NullBackend()->Boxes.size(), 1u);
    EXPECT_EQ(win::NullBackend()->Boxes[0].text, silent);
  }
  FreePrinter();
  testcups::TPrivateCups::PointClientAt(0, {});
  fs::remove_all(home);
}

}  // namespace

namespace {

// The absolute top and bottom of an item's control in its dialog window.
std::pair<int32_t, int32_t> ControlRows(win::HWND item) {
  TFrameControl* c = DialogItemControl(item);
  if (!c || !c->Frame()) return {-1, -1};
  TPoint at;
  c->Frame()->ToAbsolute(TPoint{0, 0}, at);
  return {at.Y, at.Y + c->GetHeight()};
}

void DumpWindow(win::HWND hwnd, const std::string& name) {
  const char* dump = std::getenv("KAV_DUMP_DIR");
  if (!dump) return;
  // What is queued (the tree's repaint among it) runs first.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (std::chrono::steady_clock::now() < until) {
    win::TMsg m;
    while (win::PeekMessage(&m, 0, 0, 0, win::PM_REMOVE)) win::DispatchMessage(m);
    win::UpdateWindow(hwnd);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  auto it = win::NullBackend()->Screens.find(hwnd);
  if (it == win::NullBackend()->Screens.end()) return;
  std::vector<uint32_t> argb(it->second.Pixels);
  for (uint32_t& p : argb) p |= 0xFF000000u;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(it->second.Width);
  image.height = uint32_t(it->second.Height);
  image.format = PNG_FORMAT_BGRA;
  png_image_write_to_file(&image, (fs::path(dump) / (name + ".png")).c_str(), 0, argb.data(), it->second.Width * 4,
                          nullptr);
}

// 63 printers: every one is in the choice and can be chosen, the list
// scrolls (the last printer lies below the list until it is chosen, then in
// it, above the orientation and the buttons), and the dialog fits a
// 1024 x 768 screen.
TEST_F(PrintDialogTest, ChangePrinterListsEveryPrinterAndFitsTheScreen) {
  spooler->PrinterList.clear();
  std::vector<std::string> names;
  for (int i = 1; i <= 63; ++i) {
    print::TFakePrinter p;
    p.Name = "Queue " + std::to_string(i);
    names.push_back(p.Name);
    spooler->PrinterList.push_back(p);
  }
  spooler->Default = "Queue 1";
  FreePrinter();
  TFixedPicture pictures;
  Ref<TIniFile> options = Options(u"[Main]\n");
  Ref<TKavPrintDialog> d = MakeRef<TKavPrintDialog>(options.get(), &TFixedPicture::Call, &pictures);
  Run(d.get(), [this, &names](win::HWND h) {
    act = [&names](win::HWND choice) {
      TRect outer;
      ASSERT_TRUE(win::GetWindowRect(choice, &outer));
      EXPECT_LE(outer.Width(), 1024);
      EXPECT_LE(outer.Height(), 768);
      for (const std::string& name : names) EXPECT_NE(win::FindWindowExA(choice, 0, nullptr, name.c_str()), 0u) << name;
      const win::HWND first = win::FindWindowExA(choice, 0, nullptr, "Queue 1");
      const win::HWND last = win::FindWindowExA(choice, 0, nullptr, "Queue 63");
      const win::HWND portrait = win::FindWindowExA(choice, 0, nullptr, "Portrait");
      const int32_t below_list = ControlRows(portrait).first;
      ASSERT_GT(below_list, 0);
      DumpWindow(choice, "change_printer_top");
      EXPECT_LT(ControlRows(first).second, below_list);
      EXPECT_GT(ControlRows(last).first, below_list);  // scrolled out of sight
      // The wheel over the list scrolls it: two steps down, one up.
      const int32_t first_top = ControlRows(first).first;
      TPoint over{60, 40};
      win::ClientToScreen(choice, &over);
      auto wheel = [&](int32_t steps) {
        win::SendMessage(choice, win::WM_MOUSEWHEEL, win::WPARAM(uint16_t(int16_t(steps * 120))) << 16,
                         win::MakeLParam(over.X, over.Y));
      };
      wheel(-2);
      const int32_t down = first_top - ControlRows(first).first;
      EXPECT_GT(down, 0);
      wheel(1);
      EXPECT_EQ(first_top - ControlRows(first).first, down / 2);
      wheel(5);
      EXPECT_EQ(ControlRows(first).first, first_top);
      win::SendMessage(last, win::BM_CLICK, 0, 0);
      DumpWindow(choice, "change_printer_last");
      EXPECT_GE(ControlRows(last).first, 0);
      EXPECT_LT(ControlRows(last).second, below_list);  // scrolled into the list
      EXPECT_LT(ControlRows(first).second, 0 + ControlRows(last).first);
      Click(choice, win::IDOK);
    };
    win::PostMessage(driver, win::WM_APP, 0, 0);
    Click(h, kPrintCmdChangePrinter);
    win::SendMessage(h, win::WM_KEYDOWN, win::VK_ESCAPE, 0);
  });
  EXPECT_EQ(Printer()->PrinterIndex(), 62);
}

}  // namespace
