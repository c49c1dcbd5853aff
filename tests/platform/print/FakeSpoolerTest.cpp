// The print service's installation and the fake backend's contract: the
// default knows no printer, contexts refuse calls out of order.
#include <gtest/gtest.h>

#include <memory>

#include "platform/print/PrintSpooler.h"
#include "platform/print/fake/FakeSpooler.h"

namespace kav::print {
namespace {

TEST(PrintSpooler, DefaultKnowsNoPrinterAndInstallingReplacesIt) {
  std::shared_ptr<TPrintSpooler> base = PrintSpooler();
  ASSERT_TRUE(base);
  EXPECT_TRUE(base->Printers().empty());
  std::string name = "x";
  EXPECT_EQ(base->DefaultPrinter(name), kErrorNone);
  EXPECT_EQ(name, "");
  EXPECT_EQ(base->CreateDC("any", nullptr, true), nullptr);

  auto fake = std::make_shared<TFakeSpooler>();
  EXPECT_EQ(SetPrintSpooler(fake), base);
  EXPECT_EQ(PrintSpooler(), fake);
  EXPECT_EQ(SetPrintSpooler(nullptr), fake);
  EXPECT_NE(PrintSpooler(), fake);
}

TEST(FakeSpooler, ContextsFollowTheDocumentOrder) {
  TFakeSpooler spooler;
  TFakePrinter p;
  p.Name = "Laser";
  spooler.PrinterList.push_back(p);
  std::unique_ptr<TPrintDC> ic = spooler.CreateDC("Laser", nullptr, true);
  ASSERT_TRUE(ic);
  EXPECT_LE(ic->StartDoc("t"), 0);  // an information context prints nothing
  EXPECT_EQ(ic->DeviceCaps(kHorzRes), p.Width);

  TDeviceMode landscape = p.Mode;
  landscape.Orientation = kOrientLandscape;
  std::unique_ptr<TPrintDC> dc = spooler.CreateDC("Laser", &landscape, false);
  ASSERT_TRUE(dc);
  EXPECT_EQ(dc->DeviceCaps(kHorzRes), p.Height);
  EXPECT_EQ(dc->DeviceCaps(kLogPixelsY), p.Dpi);
  EXPECT_LE(dc->StartPage(), 0);
  EXPECT_GT(dc->StartDoc("t"), 0);
  const uint8_t pixel[4] = {1, 2, 3, 0};
  const TPrintPixels src{1, 1, 4, pixel};
  EXPECT_EQ(dc->StretchDIBits(0, 0, 5, 5, src, 0, 0, 1, 1), 0);  // no page yet
  EXPECT_GT(dc->StartPage(), 0);
  EXPECT_EQ(dc->StretchDIBits(0, 0, 5, 5, src, 0, 0, 1, 1), 1);
  EXPECT_EQ(dc->StretchDIBits(0, 0, 5, 5, src, 0, 0, 2, 1), 0);  // part outside the picture
  EXPECT_GT(dc->EndPage(), 0);
  EXPECT_GT(dc->EndDoc(), 0);
  EXPECT_LE(dc->EndDoc(), 0);
}

}  // namespace
}  // namespace kav::print
