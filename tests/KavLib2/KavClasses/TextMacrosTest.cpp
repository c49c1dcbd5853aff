#include <gtest/gtest.h>

#include <map>

#include "KavLib2/KavClasses/KavTextMacros.h"

namespace kav {
namespace {

// A resolver answering from a table and counting its calls.
struct TableResolver {
  std::map<std::u16string, std::u16string> values;
  std::map<std::u16string, int> calls;
  void Resolve(TMTParser*, std::u16string_view macro, std::u16string& value) {
    ++calls[std::u16string(macro)];
    auto it = values.find(std::u16string(macro));
    value = it == values.end() ? std::u16string() : it->second;
  }
  TMacroResolver Delegate() { return TMacroResolver::Bind<&TableResolver::Resolve>(this); }
};

TEST(TextMacros, ReplacesMacrosInAnyCaseAndEveryOccurrence) {
  TableResolver r;
  r.values[u"<%SlideIndex%>"] = u"3";
  r.values[u"<%SlidesCount%>"] = u"10";
  TMTParser p(r.Delegate());
  EXPECT_EQ(p.Expand(u"Slide <%slideindex%> of <%SLIDESCOUNT%>"), u"Slide 3 of 10");
  EXPECT_EQ(p.Expand(u"<%SlideIndex%>/<%SlideIndex%><%SlideIndex%>"), u"3/33");
  // Unknown macros, broken markers and plain text stay.
  EXPECT_EQ(p.Expand(u"<%Nope%> <%SlideIndex% <% <%<%SlideIndex%>"), u"<%Nope%> <%SlideIndex% <% <%3");
  // Lower-casing non-ASCII text next to a macro keeps positions right.
  EXPECT_EQ(p.Expand(u"ÄÖ\u0130<%SLIDEINDEX%>ß"), u"ÄÖ\u0130" u"3ß");
  // An empty result is a blank.
  EXPECT_EQ(p.Expand(u"<%MainImg.IPTC.City%>"), u" ");
  EXPECT_THROW(MakeRef<TMTParser>()->Expand(u"text"), EAbort);  // no resolver
}

TEST(TextMacros, InsertedValuesAreNeverScannedAgain) {
  TableResolver r;
  // A value holding its own macro, and one holding another macro.
  r.values[u"<%SlideIndex%>"] = u"<%SlideIndex%>";
  r.values[u"<%SlidesCount%>"] = u"<%MainImg.Width%>";
  r.values[u"<%MainImg.Width%>"] = u"640";
  TMTParser p(r.Delegate());
  EXPECT_EQ(p.Expand(u"<%SlideIndex%> <%SlidesCount%> <%MainImg.Width%>"),
            u"<%SlideIndex%> <%MainImg.Width%> 640");
  EXPECT_EQ(r.calls[u"<%SlideIndex%>"], 1);
  // A value that completes a macro with the text after it is not joined.
  r.values[u"<%MainImg.Height%>"] = u"<%Slide";
  EXPECT_EQ(p.Expand(u"<%MainImg.Height%>Index%>"), u"<%SlideIndex%>");
}

TEST(TextMacros, PathMacrosFromTheMainImagePath) {
  TableResolver r;
  TMTParser p(r.Delegate());
  auto all = u"<%MainImg.FileName%>|<%MainImg.PathName%>|<%MainImg.FileNameExt%>|"
             u"<%MainImg.FolderPath%>|<%MainImg.FolderName%>";
  r.values[u"<%MainImg.PathNameExt%>"] = u"C:\\Photos\\Trip.2020\\beach.day.JPG";
  EXPECT_EQ(p.Expand(all), u"beach.day|C:\\Photos\\Trip.2020\\beach.day|beach.day.JPG|C:\\Photos\\Trip.2020|Trip.2020");
  r.values[u"<%MainImg.PathNameExt%>"] = u"/home/u/pics.d/noext";
  EXPECT_EQ(p.Expand(all), u"noext|/home/u/pics.d/noext|noext|/home/u/pics.d|pics.d");
  r.values[u"<%MainImg.PathNameExt%>"] = u"C:\\top.png";
  EXPECT_EQ(p.Expand(all), u"top|C:\\top|top.png|C:\\|");
  r.values[u"<%MainImg.PathNameExt%>"] = u"bare.gif";
  EXPECT_EQ(p.Expand(all), u"bare|bare|bare.gif||");
  r.values.clear();
  EXPECT_EQ(p.Expand(all), u"||||");
}

TEST(TextMacros, ExifDateAndTimeSplitAtTheFirstBlank) {
  TableResolver r;
  r.values[u"<%MainImg.Exif.Date%>"] = u"2021:07:04 18:30:05";
  r.values[u"<%MainImg.Exif.Time%>"] = u"2021:07:04 18:30:05";
  TMTParser p(r.Delegate());
  EXPECT_EQ(p.Expand(u"<%MainImg.Exif.Date%> at <%MainImg.Exif.Time%>"), u"2021:07:04 at 18:30:05");
  r.values[u"<%MainImg.Exif.Time%>"] = u"18:30:05";  // no blank: kept whole
  EXPECT_EQ(p.Expand(u"<%MainImg.Exif.Time%>"), u"18:30:05");
}

}  // namespace
}  // namespace kav
