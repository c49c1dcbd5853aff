// Text macros: "<%SlideIndex%>", "<%MainImg.Exif.Date%>" and their kin in
// the text of a slide object, replaced by values a resolver supplies.
//
//   TMTParser parser(TMacroResolver::Bind<&TKavText::ExpandTextMacros>(text));
//   std::u16string shown;
//   parser.Expand(u"Slide <%SlideIndex%> of <%SlidesCount%>", shown);
//
// Expansion is a single left-to-right pass: each macro found in the text is
// replaced by its value and the scan goes on after the macro, so a value is
// never searched again (a value that contains a macro, even its own, stays
// as it is). Macro names match without regard to case.
#pragma once

#include <string>
#include <string_view>

#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TMTParser;

// Answers the value of one macro, given as written in the table below with
// its markers ("<%MainImg.Width%>"). An unknown macro should answer empty.
// Called on the thread that calls Expand.
using TMacroResolver = TDelegate<void(TMTParser* parser, std::u16string_view macro, std::u16string& value)>;

class TMTParser : public TRefObject {
 public:
  TMTParser() = default;
  explicit TMTParser(TMacroResolver resolver) : resolver_(resolver) {}

  void SetResolver(TMacroResolver resolver) { resolver_ = resolver; }
  TMacroResolver Resolver() const noexcept { return resolver_; }

  // `result` = `text` with every known macro replaced; an empty result
  // becomes a single blank. A missing resolver is an assertion failure.
  //
  // Macros asked of the resolver as they are: SlideIndex, SlidesCount,
  // MainImg.Width, MainImg.Height, MainImg.Exif.Comment,
  // MainImg.Exif.Description, MainImg.PathNameExt and the MainImg.IPTC
  // fields. Derived from the resolver's MainImg.PathNameExt (a Windows or
  // Linux path): MainImg.FileName, .PathName, .FileNameExt, .FolderPath,
  // .FolderName. MainImg.Exif.Date and .Time are the resolver's value for
  // that macro cut at its first blank (a date-time text gives its date and
  // its time; a text without a blank is kept whole).
  void Expand(std::u16string_view text, std::u16string& result);
  std::u16string Expand(std::u16string_view text) {
    std::u16string r;
    Expand(text, r);
    return r;
  }

 private:
  std::u16string Resolve(std::u16string_view macro);
  std::u16string Derived(int which);

  TMacroResolver resolver_;
};

}  // namespace kav
