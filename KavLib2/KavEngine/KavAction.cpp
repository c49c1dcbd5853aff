#include "KavLib2/KavEngine/KavAction.h"

#include "VoRav/vxConvert.h"

namespace kav {

bool IsFormActionKind(uint8_t kind) {
  switch (kind) {
    case kActNone:
    case kActHelp:
    case kActDialog:
    case 17:
    case 18:
      return false;
    default:
      return kind < kActPanelHandled;
  }
}

bool IsEngineActionKind(uint8_t kind) { return kind == kActHelp || kind == kActDialog; }

bool ClosesDialogsFirst(uint8_t kind) {
  return kind == kActPrevSlide || kind == kActNextSlide || kind == kActGotoSlide || kind == kActOpenShow;
}

std::u16string ActionLogText(const TKavAction& action) {
  return IntToStr(action.Kind) + u":" + IntToStr(action.Int) + u":" + action.Text;
}

}  // namespace kav
