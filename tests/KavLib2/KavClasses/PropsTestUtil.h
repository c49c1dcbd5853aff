// Helpers shared by the keyframe and object property tests.
#pragma once

#include <string>
#include <string_view>

#include "FilterTestUtil.h"
#include "KavLib2/KavClasses/KavObjectProps.h"

namespace kav::test {

// "object k:KeyPoint" with the given keys and children (lines ending in "\n").
inline std::string KeyPoint(std::string_view body) { return "object k:KeyPoint\n" + std::string(body) + "end\n"; }

// An object block "o" of class `kind` with a GUID.
inline std::string ObjectBlock(std::string_view kind, std::string_view body, std::string_view guid = "{G-o}") {
  return "object o:" + std::string(kind) + "\nGUID=" + std::string(guid) + "\n" + std::string(body) + "end\n";
}

// Properties read from an object block on a slide of 6000 ms with transitions
// of 1000 ms in and 500 ms out.
struct TPropsFixture {
  Ref<TIniFile> DocRef;
  Ref<TKavObjectProps> Props = MakeRef<TKavObjectProps>();
  TSlideLengths Timing{6000, 1000, 500};

  TKavObjectProps* Load(std::string_view block) {
    DocRef = Doc(block);
    Props->Read(DocRef->FindObject(u"o"), Timing);
    return Props.get();
  }
  // Reads the same document again (as a reload of the slide does).
  void Reload() { Props->Read(DocRef->FindObject(u"o"), Timing); }
  float At(double t, int32_t param) {
    Props->Evaluate(t);
    return Props->Value(param);
  }
  TIniObject* Block() const { return DocRef->FindObject(u"o"); }
};

}  // namespace kav::test
