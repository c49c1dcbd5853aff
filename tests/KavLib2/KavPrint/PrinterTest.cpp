// The printer over the fake print spooler: choosing the default printer,
// settings, page size, the document calls and every refusal's text.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "KavLib2/KavPrint/Printers.h"
#include "VoRav/Graphics/FastDIB.h"
#include "platform/print/fake/FakeSpooler.h"

namespace kav {
namespace {

using print::TFakePrinter;
using print::TFakeSpooler;

class PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FreePrinter();
    spooler_ = std::make_shared<TFakeSpooler>();
    previous_ = print::SetPrintSpooler(spooler_);
  }
  void TearDown() override {
    FreePrinter();
    print::SetPrintSpooler(previous_);
  }

  TFakePrinter& AddPrinter(const std::string& name) {
    TFakePrinter p;
    p.Name = name;
    spooler_->PrinterList.push_back(p);
    return spooler_->PrinterList.back();
  }
  std::vector<std::string>& Calls() { return *spooler_->Calls; }
  bool Called(const std::string& line) { return std::count(Calls().begin(), Calls().end(), line) > 0; }

  std::shared_ptr<TFakeSpooler> spooler_;
  std::shared_ptr<print::TPrintSpooler> previous_;
};

template <class F>
std::string PrinterError(F&& f) {
  try {
    f();
  } catch (const EPrinter& e) {
    return e.Message();
  }
  return "(no EPrinter)";
}

TEST_F(PrinterTest, WithoutPrintersEveryUseSaysThereIsNoDefaultPrinter) {
  TPrinter* printer = Printer();
  EXPECT_EQ(printer->Printers()->Count(), 0);
  EXPECT_EQ(PrinterError([&] { printer->PrinterIndex(); }), kSNoDefaultPrinter);
  // The print dialog sets the orientation first, then begins the document.
  EXPECT_EQ(PrinterError([&] { printer->SetOrientation(TPrinterOrientation::Landscape); }), kSNoDefaultPrinter);
  EXPECT_EQ(PrinterError([&] { printer->BeginDoc(); }), kSNoDefaultPrinter);
  EXPECT_EQ(PrinterError([&] { printer->PageWidth(); }), kSNoDefaultPrinter);
  EXPECT_FALSE(printer->Printing());
  EXPECT_STREQ(kSNoDefaultPrinter, "There is no default printer currently selected");
}

TEST_F(PrinterTest, DefaultPrinterIsFoundWithoutRegardToCaseElseTheLastIsTaken) {
  AddPrinter("Office");
  AddPrinter("Laser");
  AddPrinter("Photo");
  spooler_->Default = "LASER";
  EXPECT_EQ(Printer()->PrinterIndex(), 1);
  EXPECT_TRUE(Called("OpenPrinter Laser"));

  FreePrinter();
  spooler_->Default = "Gone";
  EXPECT_EQ(Printer()->PrinterIndex(), 2);
  FreePrinter();
  spooler_->Default.clear();
  EXPECT_EQ(Printer()->PrinterIndex(), 2);

  // The system cannot name its default: an invalid name is "no default",
  // any other failure is the system's error.
  FreePrinter();
  spooler_->DefaultError = print::kErrorInvalidName;
  EXPECT_EQ(PrinterError([] { Printer()->PrinterIndex(); }), kSNoDefaultPrinter);
  FreePrinter();
  spooler_->DefaultError = 5;
  EXPECT_THROW(Printer()->PrinterIndex(), EOSError);
}

TEST_F(PrinterTest, SetPrinterChoosesAnEntryOrAddsOneNamedDeviceOnPort) {
  AddPrinter("Office");
  AddPrinter("Laser");
  TPrinter* printer = Printer();
  printer->SetPrinter("Laser", "", "", nullptr);
  EXPECT_EQ(printer->PrinterIndex(), 1);
  EXPECT_EQ(printer->Capabilities(), kPrinterCapCopies | kPrinterCapOrientation);

  // A printer the list does not hold is added under "device on port".
  auto mode = std::make_unique<print::TDeviceMode>();
  mode->Fields = print::kFieldCollate;
  printer->SetPrinter("Elsewhere", "drv", "LPT1:", std::move(mode));
  EXPECT_EQ(printer->PrinterIndex(), 2);
  EXPECT_EQ(printer->Printers()->GetString(2), u"Elsewhere on LPT1:");
  EXPECT_EQ(printer->Capabilities(), kPrinterCapCollation);

  std::string device, driver, port;
  std::unique_ptr<print::TDeviceMode> copy;
  printer->GetPrinter(device, driver, port, copy);
  EXPECT_EQ(device, "Elsewhere");
  EXPECT_EQ(driver, "drv");
  EXPECT_EQ(port, "LPT1:");
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->Fields, print::kFieldCollate);
}

TEST_F(PrinterTest, OrientationAndCopiesGoThroughTheDeviceMode) {
  TFakePrinter& p = AddPrinter("Laser");
  p.Width = 2000;
  p.Height = 3000;
  p.Dpi = 200;
  spooler_->Default = "Laser";
  TPrinter* printer = Printer();
  EXPECT_EQ(printer->PageWidth(), 2000);
  EXPECT_EQ(printer->PageHeight(), 3000);
  EXPECT_EQ(printer->Canvas()->Font().PixelsPerInch, 200);
  EXPECT_EQ(printer->Canvas()->Font().Size, 9);

  // A change drops the context; the next one is made with the new settings.
  printer->SetOrientation(TPrinterOrientation::Landscape);
  printer->SetCopies(3);
  EXPECT_EQ(printer->Orientation(), TPrinterOrientation::Landscape);
  EXPECT_EQ(printer->Copies(), 3);
  EXPECT_EQ(printer->PageWidth(), 3000);
  EXPECT_EQ(printer->PageHeight(), 2000);
  EXPECT_EQ(Calls().back(), "CreateDC Laser ic 2 3");
  printer->SetOrientation(TPrinterOrientation::Portrait);
  EXPECT_EQ(printer->PageWidth(), 2000);
}

TEST_F(PrinterTest, PrinterWithoutDeviceModeRefusesSettings) {
  AddPrinter("Plain").HasDeviceMode = false;
  spooler_->Default = "Plain";
  TPrinter* printer = Printer();
  EXPECT_EQ(PrinterError([&] { printer->SetOrientation(TPrinterOrientation::Landscape); }), kSInvalidPrinterOp);
  EXPECT_EQ(PrinterError([&] { printer->SetCopies(2); }), kSInvalidPrinterOp);
  EXPECT_EQ(printer->Capabilities(), 0);
  // It still prints with the printer's own settings.
  printer->BeginDoc();
  printer->EndDoc();
  EXPECT_TRUE(Called("EndDoc"));
}

TEST_F(PrinterTest, UnreachablePrinterIsNotValid) {
  AddPrinter("Away").Reachable = false;
  spooler_->Default = "Away";
  EXPECT_EQ(PrinterError([] { Printer()->PageWidth(); }), kSInvalidPrinter);
  EXPECT_EQ(PrinterError([] { Printer()->BeginDoc(); }), kSInvalidPrinter);
  EXPECT_FALSE(Printer()->Printing());
}

TEST_F(PrinterTest, DocumentCallsInOrder) {
  AddPrinter("Laser");
  spooler_->Default = "Laser";
  TPrinter* printer = Printer();
  printer->SetTitle("Slideshow");
  printer->BeginDoc();
  EXPECT_TRUE(printer->Printing());
  EXPECT_EQ(printer->PageNumber(), 1);
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(4, 2, 32);
  EXPECT_EQ(printer->Canvas()->StretchDIB(10, 20, 400, 200, dib.get()), 2);
  printer->EndDoc();
  EXPECT_FALSE(printer->Printing());
  EXPECT_EQ(printer->PageNumber(), 0);
  const std::vector<std::string> expected = {"OpenPrinter Laser", "CreateDC Laser dc 1 1", "SetAbortProc",
                                             "StartDoc Slideshow", "StartPage", "StretchDIBits 10 20 400 200 4x2",
                                             "EndPage", "EndDoc"};
  EXPECT_EQ(Calls(), expected);
}

TEST_F(PrinterTest, RefusalsWhilePrintingAndWhileNot) {
  AddPrinter("Laser");
  spooler_->Default = "Laser";
  TPrinter* printer = Printer();
  EXPECT_EQ(PrinterError([&] { printer->EndDoc(); }), kSNotPrinting);
  EXPECT_EQ(PrinterError([&] { printer->Abort(); }), kSNotPrinting);
  printer->BeginDoc();
  EXPECT_EQ(PrinterError([&] { printer->SetOrientation(TPrinterOrientation::Landscape); }), kSPrinting);
  EXPECT_EQ(PrinterError([&] { printer->SetCopies(2); }), kSPrinting);
  EXPECT_EQ(PrinterError([&] { printer->BeginDoc(); }), kSPrinting);
  EXPECT_EQ(PrinterError([&] { printer->SetPrinter("Laser", "", "", nullptr); }), kSPrinting);
  EXPECT_EQ(printer->Orientation(), TPrinterOrientation::Portrait);
  printer->EndDoc();
  EXPECT_STREQ(kSPrinting, "Printing in progress");
  EXPECT_STREQ(kSNotPrinting, "Printer is not currently printing");
}

TEST_F(PrinterTest, AbortSkipsTheSystemEndDoc) {
  AddPrinter("Laser");
  spooler_->Default = "Laser";
  TPrinter* printer = Printer();
  printer->BeginDoc();
  printer->Abort();
  EXPECT_FALSE(printer->Printing());
  EXPECT_FALSE(printer->Aborted());
  EXPECT_TRUE(Called("AbortDoc"));
  EXPECT_TRUE(Called("EndPage"));
  EXPECT_FALSE(Called("EndDoc"));
  // The printer prints again afterwards.
  printer->BeginDoc();
  printer->EndDoc();
  EXPECT_TRUE(Called("EndDoc"));
}

TEST_F(PrinterTest, SystemRefusingTheDocumentIsRaisedNotIgnored) {
  AddPrinter("Laser");
  spooler_->Default = "Laser";
  spooler_->FailStartDoc = true;
  TPrinter* printer = Printer();
  EXPECT_EQ(PrinterError([&] { printer->BeginDoc(); }), kSInvalidPrinter);
  EXPECT_FALSE(printer->Printing());

  FreePrinter();
  spooler_->FailStartDoc = false;
  spooler_->FailEndDoc = true;
  printer = Printer();
  printer->BeginDoc();
  EXPECT_EQ(PrinterError([&] { printer->EndDoc(); }), kSInvalidPrinter);
  EXPECT_FALSE(printer->Printing());
}

TEST_F(PrinterTest, FreeingThePrinterEndsADocumentInProgress) {
  AddPrinter("Laser");
  spooler_->Default = "Laser";
  Printer()->BeginDoc();
  FreePrinter();
  EXPECT_TRUE(Called("EndDoc"));
  EXPECT_EQ(Calls().back(), "ClosePrinter");
}

TEST_F(PrinterTest, CanvasHandsTheDibOverAsRowsFromTheTop) {
  AddPrinter("Laser");
  spooler_->Default = "Laser";
  TPrinter* printer = Printer();
  printer->BeginDoc();
  // A bottom-up 24-bit DIB of 2 x 2: row-table entry 0 is the bottom row.
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(2, 2, 24);
  uint8_t* bottom = dib->Row(0);
  uint8_t* top = dib->Row(1);
  const uint8_t top_bytes[] = {0x01, 0x02, 0x03, 0x11, 0x12, 0x13};
  const uint8_t bottom_bytes[] = {0x21, 0x22, 0x23, 0x31, 0x32, 0x33};
  std::copy(std::begin(top_bytes), std::end(top_bytes), top);
  std::copy(std::begin(bottom_bytes), std::end(bottom_bytes), bottom);
  EXPECT_EQ(printer->Canvas()->StretchDIB(0, 0, 10, 10, dib.get()), 2);
  const std::vector<uint32_t> expected = {0x030201, 0x131211, 0x232221, 0x333231};
  EXPECT_EQ(*spooler_->LastPicture, expected);

  // 8 bits through the colour table.
  auto grey = MakeRef<TFastDIB>();
  grey->SetSize(1, 1, 8);
  grey->Colors()[7] = 0x00ABCDEF;
  grey->Row(0)[0] = 7;
  EXPECT_EQ(printer->Canvas()->StretchDIB(0, 0, 10, 10, grey.get()), 1);
  EXPECT_EQ(*spooler_->LastPicture, std::vector<uint32_t>{0xABCDEF});

  // Nothing to draw: 0, as the print dialog expects of a failed draw.
  auto odd = MakeRef<TFastDIB>();
  odd->SetSize(2, 2, 16);
  EXPECT_EQ(printer->Canvas()->StretchDIB(0, 0, 10, 10, odd.get()), 0);
  EXPECT_EQ(printer->Canvas()->StretchDIB(0, 0, 10, 10, nullptr), 0);
  printer->EndDoc();
}

TEST(PrintPlacement, FitsAndCentresWithTruncatedHalves) {
  // A landscape picture on a portrait page: as wide as the page.
  EXPECT_EQ(PrintPlacement(400, 300, 2000, 3000), (TRect{0, 750, 2000, 2250}));
  // A portrait picture wider in shape than the page: as wide as the page.
  EXPECT_EQ(PrintPlacement(300, 400, 2000, 3000), (TRect{0, 167, 2000, 2833}));
  // A narrower one: as high as the page, centred across.
  EXPECT_EQ(PrintPlacement(100, 400, 2000, 3000), (TRect{625, 0, 1375, 3000}));
  // Width exactly the page's: the width wins (w is not below the page width).
  EXPECT_EQ(PrintPlacement(2, 3, 2000, 3000), (TRect{0, 0, 2000, 3000}));
  // Truncation: 7 x 3001 / 5 = 4201.4 -> 4201 wide; halves of odd rests cut.
  EXPECT_EQ(PrintPlacement(7, 5, 4300, 3001), (TRect{49, 0, 4250, 3001}));
  // A square picture on a landscape page.
  EXPECT_EQ(PrintPlacement(50, 50, 3001, 2000), (TRect{500, 0, 2500, 2000}));
}

}  // namespace
}  // namespace kav
