// Opened shows. A show is opened from a packed show (the player program or
// a separate show file) or from an unpacked project on the disk; either way
// it becomes a TKavShowLocator: the show's file accessor, its project text
// and, on demand, its TKavSource.
//
// The show engine keeps the current locator and a stack of earlier ones:
// running another show pushes the running one, and PopShowLocator returns to
// it. Each locator keeps the path-variable table in force for its show, and
// becoming current again puts that table back.
#pragma once

#include <string>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavPathVars.h"
#include "VoRav/vxIni.h"

namespace kav {

inline constexpr char16_t kProjectEntryName[] = u"Project.kav";
inline constexpr char16_t kExecutableOpenError[] = u"Executable SlideShow Open Error";
// The error of a project text that holds no show (no [Main], no slides).
inline constexpr char16_t kNoShowError[] = u"The file holds no slide show";

class TKavShowLocator : public TRefObject {
 public:
  // Asserts the accessor and holds it. Reads the project through it (no
  // project text when it cannot be read or parsed, or when it has neither a
  // [Main] section nor slides: Error() then tells, and the log says why),
  // keeps [Main] KavVersion, and loads [FileMap] and [RotationState] into a
  // mapped or packed source. The path-variable table in force now becomes
  // the show's.
  TKavShowLocator(TFileAccessor* accessor, const std::u16string& project_name);

  TFileAccessor* Accessor() const noexcept { return accessor_.get(); }
  // Nil when the project could not be read.
  TIniFile* Ini() const noexcept { return ini_.get(); }
  // Without a project: kExecutableOpenError when it could not be read,
  // kNoShowError when it holds no show; empty otherwise.
  const std::u16string& Error() const noexcept { return error_; }
  const std::u16string& ProjectFileName() const noexcept { return project_name_; }
  const std::u16string& Version() const noexcept { return version_; }
  bool IsPacked() const noexcept { return packed_; }
  void SetPacked(bool packed) noexcept { packed_ = packed; }

  // The show source, made on first use (with `setup` then); nil without a
  // project.
  TKavSource* GetSource(const TKavSourceSetup& setup = {});

  const TPathVarTable& PathVariables() const noexcept { return path_vars_; }
  void SetPathVariables(TPathVarTable table) { path_vars_ = std::move(table); }

 protected:
  void Dispose() override;

 private:
  Ref<TFileAccessor> accessor_;
  Ref<TIniFile> ini_;
  std::u16string project_name_;
  Ref<TKavSource> source_;
  std::u16string version_;
  std::u16string error_;
  bool packed_ = false;
  TPathVarTable path_vars_;
};

// The INI document read from a show file; nil when it cannot be opened,
// read or decoded, or is larger than kMaxTextStreamSize (each logged with
// the reason).
Ref<TIniFile> LoadIniFromAccessor(TFileAccessor* accessor, const std::u16string& name);

// An accessor over the packed show at `path`; nil with the unpacker's error
// text (possibly empty for a file without a package) when it does not open.
Ref<TFileAccessor> OpenPackedShow(const std::u16string& path, std::u16string& error);
// The locator of the packed show at `path`, marked packed, its folder the
// show file's folder, colour management applied. Nil with the unpacker's
// error text, or the locator's error when "Project.kav" cannot be read or
// holds no show. Every failure is logged.
Ref<TKavShowLocator> LoadPackedShow(const std::u16string& path, std::u16string& error);
// The locator of the unpacked project at `project_path`; nil when the
// project cannot be read. The accessor's folder is that of [Main] opt_exefn
// when it exists, else the project file's own; relative names open below the
// project's folder. [PathModifiers] (Count; Env<i>, Path<i>, Def<i>) makes a
// new path-variable table that replaces the global one. Colour management is
// applied. The error is the locator's when it fails (logged).
Ref<TKavShowLocator> LoadProjectShow(const std::u16string& project_path, std::u16string& error);
Ref<TKavShowLocator> LoadProjectShow(const std::u16string& project_path);

// Equal after lower-casing both.
bool IsSameShowPath(std::u16string_view a, std::u16string_view b);

// The engine's locators. Setting or pushing a locator installs its
// path-variable table; popping reinstalls the previous one's and applies its
// colour management. All may be called from any thread.
Ref<TKavShowLocator> CurrentShowLocator();
void SetCurrentShowLocator(Ref<TKavShowLocator> locator);
// The current locator goes onto the stack and `locator` becomes current.
void PushShowLocator(Ref<TKavShowLocator> locator);
// Releases the current locator and makes the last stacked one current; false
// when the stack was empty (there is no current locator then).
bool PopShowLocator();
// Releases every locator (at the end of the program).
void PopAllShowLocators();
int32_t StackedShowLocators();

}  // namespace kav
