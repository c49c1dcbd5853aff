#include "KavLib2/KavClasses/KavObjectActions.h"

#include <array>

#include "VoRav/vxConvert.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

struct TActionKeyword {
  std::u16string_view Text;  // lower case; keywords with an argument end in "("
  int32_t Code;              // keyword code
  int32_t Kind;              // action kind
};

// Keywords compared with the whole text.
constexpr std::array<TActionKeyword, 11> kPlainKeywords{{
    {u"exit", 1, kActionExit},
    {u"prevslide", 3, kActionPrevSlide},
    {u"nextslide", 2, kActionNextSlide},
    {u"help", 4, kActionHelp},
    {u"pause", 7, kActionPause},
    {u"print", 11, kActionPrint},
    {u"gotofirstslide", 5, kActionGotoSlide},
    {u"stop", 14, kActionStop},
    {u"closedialog", 17, kActionCloseDialog},
    {u"saveslide", 18, kActionSaveSlide},
    {u"changeprinter", 19, kActionChangePrinter},
}};

constexpr int32_t kGotoSlideCode = 6;

// Keywords compared with the beginning of the text. Apart from "gotoslide("
// their argument is written in quotes.
constexpr std::array<TActionKeyword, 8> kArgumentKeywords{{
    {u"gotoslide(", kGotoSlideCode, kActionGotoSlide},
    {u"openwebsite(", 8, kActionOpenWebSite},
    {u"writeemail(", 9, kActionWriteEmail},
    {u"runapp(", 10, kActionRunApp},
    {u"runappandexit(", 12, kActionRunAppAndExit},
    {u"runpresentation(", 13, kActionRunPresentation},
    {u"runpresentationandreturn(", 15, kActionRunPresentationAndReturn},
    {u"opendialog(", 16, kActionOpenDialog},
}};

const TActionKeyword* FindKeyword(std::u16string_view action) {
  // Lower-casing converts unit by unit, so positions in the lowered text are
  // positions in the original.
  const std::u16string lower = WideLowerCase(action);
  for (const TActionKeyword& k : kPlainKeywords)
    if (lower == k.Text) return &k;
  for (const TActionKeyword& k : kArgumentKeywords)
    if (std::u16string_view(lower).starts_with(k.Text)) return &k;
  return nullptr;
}

bool TakesArgument(const TActionKeyword& k) { return k.Text.ends_with(u'('); }

// The argument between the keyword and the closing characters: `skip_front`
// characters after the "(" and `drop_back` at the end are not part of it.
// Texts too short to hold both give an empty argument.
std::u16string CutArgument(std::u16string_view action, size_t keyword_length, size_t skip_front,
                           size_t drop_back) {
  const size_t first = keyword_length + skip_front;
  if (action.size() < first + drop_back) return {};
  return std::u16string(action.substr(first, action.size() - drop_back - first));
}

const TActionKeyword* MatchAction(std::u16string_view action, std::u16string& argument) {
  argument.clear();
  const TActionKeyword* k = FindKeyword(action);
  if (k != nullptr && TakesArgument(*k)) {
    const bool quoted = k->Code != kGotoSlideCode;
    argument = CutArgument(action, k->Text.size(), quoted ? 1 : 0, quoted ? 2 : 1);
  }
  return k;
}

}  // namespace

int32_t ActionKeywordToCode(std::u16string_view action, std::u16string& argument) {
  const TActionKeyword* k = MatchAction(action, argument);
  return k != nullptr ? k->Code : 0;
}

TObjectAction ParseObjectAction(std::u16string_view action) {
  TObjectAction record;
  std::u16string argument;
  const TActionKeyword* k = MatchAction(action, argument);
  if (k == nullptr) return record;
  const int32_t index = k->Code == kGotoSlideCode ? StrToIntDef(argument, -1) : 0;
  SetObjectAction(record, k->Kind, index, argument);
  return record;
}

void SetObjectAction(TObjectAction& record, int32_t kind, int32_t index, std::u16string_view argument) {
  record.Kind = kind;
  record.SlideIndex = index;
  record.Argument.assign(argument);
}

}  // namespace kav
