#include "KavLib2/KavDialogs/KavDialogs.h"

#include <algorithm>
#include <chrono>

#include "KavLib2/KavDialogs/winDpiMetrics.h"
#include "KavLib2/KavDialogs/winSaveDialog.h"
#include "KavLib2/KavPrint/Printers.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Composite/winThemedControls.h"
#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxStream.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr uint32_t kExclamation = 0x30;  // MB_ICONEXCLAMATION
// How long one request to the print system (print the slide, list the
// printers for a choice, take the choice) may take in all: the window is
// still meanwhile, and a scheduler may never answer, or a byte at a time.
constexpr std::chrono::seconds kPrintRequestTime{6};
// Departure: a request cut short by its deadline says so instead of naming
// whatever call happened to fail last ("no default printer").
constexpr char kSPrintSystemSilent[] = "The print system did not answer in time";
// The largest main-image file copied for saving.
constexpr int64_t kMaxSavedFile = int64_t(1) << 30;

std::u16string MainText(TIniList* options, std::u16string_view key, std::u16string_view def) {
  return options ? IniReadString(options, u"Main", key, def) : std::u16string(def);
}

std::u16string Extension(const std::u16string& name) {
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || name.find_first_of(u"/\\", dot) != std::u16string::npos) return {};
  return name.substr(dot + 1);
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return s;
}

bool IsJpegName(const std::u16string& name) {
  const std::u16string ext = Lower(Extension(name));
  return ext == u"jpg" || ext == u"jpeg" || ext == u"jpe" || ext == u"jfif";
}

void ShowError(win::HWND owner, const std::string& text) {
  LogLine(u"Slideshow Error: " + SystemUTF8ToWide(text));
  win::MessageBox(owner, SystemUTF8ToWide(text), u"Slideshow Error", kExclamation);
}

// The printer choice of "Change Printer": the printers as radio buttons in
// a list that scrolls past its first rows, portrait or landscape, OK and
// Cancel. (The system's print dialog has no counterpart on this desktop;
// this small dialog of the player's own takes its place.)
class TPrinterChoiceDialog : public TDialog {
 public:
  // Rows the list shows at once: the dialog stays well inside a 768-pixel
  // screen; more printers scroll.
  static constexpr int32_t kVisibleRows = 10;
  // The dialog's template holds at most 1024 items.
  static constexpr int32_t kMaxPrinters = 1000;

  explicit TPrinterChoiceDialog(TPrinter* printer) : printer_(printer) {
    Caption = u"Printer";
    TStringList* list = printer->Printers();
    const int32_t current = printer->PrinterIndex();
    // Places are 16-bit in the template: the rows must end above 32767.
    const int32_t fit = std::max(1, (30000 - ScaleY(14)) / std::max(ScaleY(24), 1));
    const int32_t count = std::min({list->Count(), kMaxPrinters, fit});
    const int32_t rows = std::clamp(count, 1, kVisibleRows);
    TDialogItem* box = AddItem(MakeRef<TDialogScrollBox>(this));
    Place(box, ScaleX(12), ScaleY(12), ScaleX(260), rows * ScaleY(24) + ScaleY(4));
    int32_t y = ScaleY(14);
    for (int32_t i = 0; i < count; ++i) {
      auto* radio = static_cast<TDialogRadioButton*>(AddItem(MakeRef<TDialogRadioButton>(this, 0, i == 0)));
      radio->Caption = list->GetString(i);
      radio->SetChecked(i == current);
      Place(radio, ScaleX(16), y, ScaleX(232), ScaleY(20));
      printers_.push_back(radio);
      y += ScaleY(24);
    }
    y = box->Y + box->Height;
    y += ScaleY(8);
    const bool landscape = printer->Orientation() == TPrinterOrientation::Landscape;
    portrait_ = static_cast<TDialogRadioButton*>(AddItem(MakeRef<TDialogRadioButton>(this, 0, true)));
    portrait_->Caption = u"Portrait";
    portrait_->SetChecked(!landscape);
    Place(portrait_, ScaleX(12), y, ScaleX(125), ScaleY(20));
    landscape_ = static_cast<TDialogRadioButton*>(AddItem(MakeRef<TDialogRadioButton>(this, 0, false)));
    landscape_->Caption = u"Landscape";
    landscape_->SetChecked(landscape);
    Place(landscape_, ScaleX(145), y, ScaleX(125), ScaleY(20));
    y += ScaleY(32);
    TDialogItem* ok = AddItem(MakeRef<TDialogButton>(this, uint16_t(win::IDOK)));
    ok->Caption = u"OK";
    Place(ok, ScaleX(12), y, ScaleX(125), ScaleY(25));
    TDialogItem* cancel = AddItem(MakeRef<TDialogButton>(this, uint16_t(win::IDCANCEL)));
    cancel->Caption = u"Cancel";
    Place(cancel, ScaleX(145), y, ScaleX(125), ScaleY(25));
    Width = ScaleX(282);
    Height = y + ScaleY(37);
  }

 protected:
  void DoCommand(uint16_t id) override {
    if (id == win::IDOK) {
      std::string error;
      {
        print::TPrintDeadline deadline(kPrintRequestTime);
        try {
          Apply();
        } catch (const std::exception& e) {
          error = e.what();
          timed_out_ = deadline.TimedOut();
        }
      }
      if (timed_out_) error = kSPrintSystemSilent;
      if (!error.empty()) ShowError(handle_, error);
    }
    TDialog::DoCommand(id);
  }

 public:
  // The choice's request was cut short by its deadline.
  bool TimedOut() const { return timed_out_; }

 private:
  static void Place(TDialogItem* item, int32_t x, int32_t y, int32_t w, int32_t h) {
    item->X = x;
    item->Y = y;
    item->Width = w;
    item->Height = h;
  }
  void Apply() {
    for (size_t i = 0; i < printers_.size(); ++i) {
      if (!printers_[i]->ReadChecked()) continue;
      auto* entry = static_cast<TPrinterDevice*>(printer_->Printers()->GetObject(int32_t(i)));
      if (entry && int32_t(i) != printer_->PrinterIndex()) printer_->SetPrinter(entry->Device, entry->Driver, entry->Port, nullptr);
      break;
    }
    printer_->SetOrientation(landscape_->ReadChecked() ? TPrinterOrientation::Landscape
                                                      : TPrinterOrientation::Portrait);
  }
  TPrinter* printer_;
  std::vector<TDialogRadioButton*> printers_;
  TDialogRadioButton* portrait_ = nullptr;
  TDialogRadioButton* landscape_ = nullptr;
  bool timed_out_ = false;
};

}  // namespace

std::u16string ProposedBaseName(const std::u16string& name) {
  const size_t cut = name.find_last_of(u"/\\");
  std::u16string base = cut == std::u16string::npos ? name : name.substr(cut + 1);
  if (base == u"." || base == u"..") base.clear();
  return base;
}

bool ImageToDib(TImage* image, TFastDIB* dib) {
  if (!image || !dib) return false;
  Ref<TBitmap> bitmap = image->GetBitmap();
  if (!bitmap || bitmap->Width() < 1 || bitmap->Height() < 1) return false;
  const int32_t w = bitmap->Width(), h = bitmap->Height();
  Ref<TSysBitmap> straight = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  if (!straight) return false;
  straight->CopyRect(TRect{0, 0, w, h}, bitmap.get(), 0, TPoint{0, 0});
  dib->SetSize(w, h, 32);
  for (int32_t y = 0; y < h; ++y) {
    // Row-table entry 0 of a bottom-up DIB is the picture's last row.
    uint8_t* to = dib->Row(dib->TopDown() ? y : h - 1 - y);
    const uint8_t* from = straight->PixelAddress(0, y);
    for (int32_t x = 0; x < w; ++x, to += 4, from += 4) {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
      to[3] = 255;  // prints and BMP files are opaque
    }
  }
  return true;
}

// ---- the print dialog ----

TKavPrintDialog::TKavPrintDialog(TIniList* options, TPrintImageCallback callback, void* context)
    : options_(options), callback_(callback), context_(context) {
  KAV_ASSERT(options != nullptr);
  KAV_ASSERT(callback != nullptr);
  auto place = [](TDialogItem* item, int32_t x, int32_t y) {
    item->X = ScaleX(x);
    item->Y = ScaleY(y);
    item->Width = ScaleX(125);
    item->Height = ScaleY(25);
  };
  TDialogItem* print = AddItem(MakeRef<TDialogButton>(this, kPrintCmdPrint));
  print->Caption = MainText(options_, u"opt_lng_print_button5", u"Print");
  place(print, 12, 12);
  if (IniReadBool(options_, u"Main", u"CanRestore", false)) {
    TDialogItem* save = AddItem(MakeRef<TDialogButton>(this, kPrintCmdSave));
    save->Caption = MainText(options_, u"opt_lng_print_button6", u"Save");
    place(save, 145, 12);
  }
  // Change Printer comes before the check box, so Tab follows the rows left to right.
  TDialogItem* change = AddItem(MakeRef<TDialogButton>(this, kPrintCmdChangePrinter));
  change->Caption = MainText(options_, u"opt_lng_print_label", u"Change Printer");
  place(change, 12, 49);
  main_image_ = static_cast<TDialogCheckBox*>(AddItem(MakeRef<TDialogCheckBox>(this, 0)));
  main_image_->Caption = MainText(options_, u"opt_lng_print_button7", u"Only Main Image");
  place(main_image_, 145, 49);
  Caption = MainText(options_, u"opt_lng_print_caption", u"Print");
  Width = ScaleX(282);
  Height = ScaleY(86);
}

void TKavPrintDialog::DoCommand(uint16_t id) {
  switch (id) {
    case kPrintCmdChangePrinter: ChangePrinter(); return;
    case kPrintCmdPrint: Print(); break;
    case kPrintCmdSave: Save(); break;
    // Departure: Return where no button has the focus (on "Only Main Image")
    // sends IDOK, as the dialog has no default button; the dialog has no
    // item of that id either, and ended on it without printing, saving or a
    // word. It does nothing now.
    case win::IDOK: return;
    default: break;
  }
  TDialog::DoCommand(id == kPrintCmdPrint || id == kPrintCmdSave ? 1 : id);
}

void TKavPrintDialog::ChangePrinter() {
  std::string error;
  bool timed_out = false;
  Ref<TPrinterChoiceDialog> choice;
  {
    print::TPrintDeadline deadline(kPrintRequestTime);
    try {
      TPrinter* printer = Printer();
      if (printer->Printers()->Count() == 0) throw EPrinter(kSNoDefaultPrinter);
      printer->PrinterIndex();  // the current printer is chosen before the dialog opens
      choice = MakeRef<TPrinterChoiceDialog>(printer);
    } catch (const std::exception& e) {
      error = e.what();
      choice = nullptr;
    }
    timed_out = !choice && deadline.TimedOut();
  }
  if (timed_out) {
    // What was learnt (an empty list, a half-asked printer) is dropped, so
    // the next request asks the system again.
    choice = nullptr;
    FreePrinter();
    ShowError(handle_, kSPrintSystemSilent);
    return;
  }
  if (!choice) {
    ShowError(handle_, error);
    return;
  }
  choice->ShowModal(handle_);
  if (choice->TimedOut()) FreePrinter();
}

void TKavPrintDialog::Print() {
  Ref<TFastDIB> dib = MakeRef<TFastDIB>();
  int32_t slide = -1;
  std::u16string name;
  bool have = main_image_->ReadChecked() && callback_(context_, kPrintImageMain, slide, name, nullptr, dib.get());
  if (!have) have = callback_(context_, kPrintImageShown, slide, name, nullptr, dib.get());
  const int32_t w = dib->Width(), h = std::abs(dib->Header().Height);
  // A callback without an image prints nothing.
  if (!have || w < 1 || h < 1) return;
  TPrinter* printer = nullptr;
  std::string error;
  bool timed_out = false;
  {
    print::TPrintDeadline deadline(kPrintRequestTime);
    try {
      printer = Printer();
      printer->SetOrientation(w <= h ? TPrinterOrientation::Portrait : TPrinterOrientation::Landscape);
      printer->SetTitle("Slideshow");
      printer->BeginDoc();
      const TRect r = PrintPlacement(w, h, printer->PageWidth(), printer->PageHeight());
      // No memory device context stands behind a DIB here: when the direct
      // stretch draws nothing, nothing else would, and the job is aborted.
      if (printer->Canvas()->StretchDIB(r.Left, r.Top, r.Width(), r.Height(), dib.get()) != 0)
        printer->EndDoc();
      else
        printer->Abort();
    } catch (const std::exception& e) {
      if (printer && printer->Printing()) {
        try {
          printer->Abort();
        } catch (const std::exception&) {
        }
      }
      error = e.what();
      timed_out = deadline.TimedOut();
    }
  }
  if (timed_out) {
    // What was learnt is dropped, so the next request asks the system again.
    FreePrinter();
    error = kSPrintSystemSilent;
  }
  if (!error.empty()) ShowError(handle_, error);
}

void TKavPrintDialog::Save() {
  int32_t slide = -1;
  std::u16string name;
  try {
    if (main_image_->ReadChecked()) {
      Ref<TMemoryStream> stream = MakeRef<TMemoryStream>();
      if (callback_(context_, kPrintImageMainFile, slide, name, stream.get(), nullptr) && !name.empty()) {
        const std::u16string ext = Extension(name);
        Ref<TSaveDialog> dialog = MakeRef<TSaveDialog>(handle_);
        dialog->Options |= kOfOverwritePrompt;
        dialog->FileName = ProposedBaseName(name);
        dialog->DefaultExt = ext;
        dialog->Filter = u"*." + ext + u"|*." + ext;
        // The stream's bytes from its start.
        if (dialog->Execute()) dialog->WriteChosenFile([&](TStream* out) { out->LoadFrom(stream.get()); });
        return;
      }
    }
    Ref<TFastDIB> dib = MakeRef<TFastDIB>();
    if (!callback_(context_, kPrintImageShown, slide, name, nullptr, dib.get())) return;
    if (dib->Width() < 1 || dib->Header().Height == 0) return;
    Ref<TSaveDialog> dialog = MakeRef<TSaveDialog>(handle_);
    dialog->Options |= kOfOverwritePrompt;
    dialog->FileName = u"Slide" + IntToStr(slide + 1) + u".bmp";
    dialog->DefaultExt = u"bmp";
    dialog->Filter = u"*.bmp|*.bmp";
    if (dialog->Execute()) dialog->WriteChosenFile([&](TStream* out) { dib->SaveToStream(out); });
  } catch (const std::exception& e) {
    ShowError(handle_, e.what());
  }
}

// ---- the player's image callback ----

bool PrintImageCallback(void* context, int32_t kind, int32_t& slide, std::u16string& file_name, TStream* stream,
                        TFastDIB* dib) {
  auto* c = static_cast<TPrintImageContext*>(context);
  if (!c) return false;
  slide = c->Slide;
  file_name = c->Project && slide >= 0
                  ? IniReadString(c->Project, u"slide" + IntToStr(slide + 1), u"picture", u"")
                  : std::u16string();
  switch (kind) {
    case kPrintImageMain: {
      if (file_name.empty() || !c->Accessor || !dib) return false;
      Ref<TStream> s = c->Accessor->OpenFile(file_name);
      if (!s) return false;
      Ref<TImage> image = LoadImage(s.get(), file_name, false);
      return ImageToDib(image.get(), dib);
    }
    case kPrintImageShown: return ImageToDib(c->Shown, dib);
    case kPrintImageMainFile: {
      if (!stream || file_name.empty() || !c->Accessor) return false;
      Ref<TStream> s = c->Accessor->OpenFile(file_name);
      if (!s) return false;
      const int64_t size = s->GetSize();
      if (size < 0 || size > kMaxSavedFile) return false;
      // Departure: a JPEG by its data, not its name (a PNG named ".jpg" is
      // decoded and saved as a BMP like any other picture).
      if (IsJpegName(PictureDataExtension(s.get(), file_name))) {
        stream->LoadFrom(s.get());  // the file's bytes unchanged
      } else {
        // Any other picture is decoded by the picture loaders and written
        // as a BMP (a packed graphics container is one of the formats they
        // read, and a name from the show is never trusted as a format).
        Ref<TImage> image = LoadImage(s.get(), file_name, false);
        Ref<TFastDIB> bmp = MakeRef<TFastDIB>();
        if (!ImageToDib(image.get(), bmp.get())) return false;
        bmp->SaveToStream(stream);
        const std::u16string ext = Extension(file_name);
        file_name = (ext.empty() ? file_name : file_name.substr(0, file_name.size() - ext.size() - 1)) + u".bmp";
      }
      stream->SetPosition(0);
      return true;
    }
    default: return false;
  }
}

namespace {
bool g_toolkit_started = false;
}  // namespace

void UseDialogToolkit() {
  if (g_toolkit_started) return;
  g_toolkit_started = true;
  InitializeThemedControls();
}

void DoneDialogToolkit() {
  if (!g_toolkit_started) return;
  g_toolkit_started = false;
  FinalizeThemedControls();
}

intptr_t ShowPrintDialog(win::HWND owner, TIniList* project, TFileAccessor* accessor, TImage* shown, int32_t slide) {
  UseDialogToolkit();
  TPrintImageContext context;
  context.Project = project;
  context.Accessor = accessor;
  context.Shown = shown;
  context.Slide = slide;
  Ref<TKavPrintDialog> dialog = MakeRef<TKavPrintDialog>(project, &PrintImageCallback, &context);
  return dialog->ShowModal(owner);
}

}  // namespace kav
