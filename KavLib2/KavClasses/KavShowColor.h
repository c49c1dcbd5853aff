// The colour-management choice of a show ([Main] ColorManagement) and the
// start-up options that override it.
//
//   empty     colour management off (slide objects keep their colours)
//   "*"       the "DuvazURI" profile as the display profile
//   "?"       the automatically chosen profile (the screen's)
//   "sRGB", "AdobeRGB", "DuvazURI" (any case)   that built-in profile
//   other     a profile file carried in the show
#pragma once

#include <string>

#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"

namespace kav {

class TKavShowLocator;

// Answers whether colour management can run for the show, making the colour
// library available when it can.
using TColorLibraryHook = bool (*)(TKavShowLocator* locator);

// Applies the locator's choice (see above). Sets ColorManagementOff when the
// show names none or the start-up options switch it off, and clears it
// otherwise; the applied flag tells whether a profile was installed.
void ApplyColorManagement(TKavShowLocator* locator);
bool ColorManagementApplied();

// Start-up options: "noicc" switches colour management off; "icc" forces a
// profile (nil: none forced); the automatically chosen profile name.
void SetColorManagementDisabled(bool disabled);
void SetForcedColorProfile(Ref<TColorProfile> profile);
void SetAutoProfileName(const std::u16string& name);

// The installed hook (LoadLcms2FromShow unless replaced; nil: colour
// management never runs).
void SetColorLibraryHook(TColorLibraryHook hook);
// The hook of this system: the system's own Little CMS 2 is used; a copy
// the show carries ("lcms2.dll") is never loaded, which is logged. True when
// the system library loaded.
bool LoadLcms2FromShow(TKavShowLocator* locator);

// Chains the viewer's colour-transform maker in front of the installed one,
// with the current packed show supplying its stored tables while no profile
// was applied. Called once at start-up.
void InstallShowColorHooks();

}  // namespace kav
