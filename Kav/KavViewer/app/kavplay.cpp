// kavplay: plays the show appended to the program, a show file or a project
// folder named on the command line (a plain path, "-filename <project>",
// "-exename <show>", "-slide n", "-time t", "-display n", "-desktopalign", "-resize",
// "-log", "-filelog").
#include <cstdio>
#include <memory>

#include "Kav/KavViewer/KavMainForm.h"
#include "Kav/KavViewer/KavShowMusic.h"
#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/NavPanel/KavThirdSlide.h"
#include "Kav/KavViewer/app/KavPresentBridge.h"
#include "KavLib2/KavProcess/KavProcessHooks.h"
#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/DXDev3DGui.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/Application2/vxTimer2.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "platform/d3d/SwDirect3D.h"
#include "platform/display/sdl/SdlDisplay.h"
#include "platform/sound/sdl/SndSdlDevice.h"
#include "platform/window/WinApi.h"

using namespace kav;

namespace {

Ref<TWindowPresentBridge> g_bridge;
TMainForm* g_form = nullptr;

void UpdateDisplays() {
  DisplayService()->Update();
}

struct TFrameService {
  void Tick(TTimerEvent*) {
    if (g_bridge && g_form && g_form->Controller()) g_bridge->Service(g_form->Controller()->GetHandle());
  }
};

void StartLog() {
  const TCommandsStorage* c = CommandLineCommands();
  if (c && c->FindCommand(u"filelog")) {
    try {
      SetGlobalLog(Ref<TLog>::Adopt(new TFileLog(u"", true)));
    } catch (const Exception&) {
      // No log file: the plain log stays.
    }
  }
  WriteStartBanner(GetGlobalLog().get());
}

}  // namespace

int main(int argc, char** argv) {
  InitCommandLine(argc, argv);
  InitProcessServices();
  std::string error;
  auto display = TSdlDisplay::Create(&error);
  if (!display) {
    std::fprintf(stderr, "kavplay: no display: %s\n", error.c_str());
    return 1;
  }
  SetDisplayService(display);
  auto backend = std::make_unique<win::TSdlWindowBackend>();
  win::TSdlWindowBackend* sdl = backend.get();
  win::InitWindowSystem(std::move(backend));
  win::SetDisplayChangeHandler(&UpdateDisplays);
  Screen()->Refresh();
  if (GetScreenBitsPerPixel() < 16) {
    win::MessageBox(0, u"Currently you have 256 or 16 colors display mode.\rSet True color or High color display mode.",
                    u"Slideshow Error", 0x30);
    return 1;
  }
  StartLog();
  // Text readers, pictures, text, transitions, object kinds, video, custom
  // transitions and slide production (the show music installs its own sound
  // hooks).
  InstallShowServices();
  TSndSdlDevice::Install();
  InstallShowMusic();
  RegisterNavOverlay();
  // Colour management follows the show's options once the colour layer's
  // display profile is wired here; libraries are never loaded from a show.

  auto sink = MakeRef<TSwSdlSink>();
  g_bridge = MakeRef<TWindowPresentBridge>(sink, sdl);
  SetDirect3DFactory([] {
    TSwConfig config;
    config.Sink = g_bridge;
    return MakeRef<TSwDirect3D>(config);
  });
  RegisterDirect3DEngine();

  Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
  app->Initialize();
  // Device work of other threads goes through the GUI thread. A windowed
  // device gets a panel inside the form but presents into the form itself at
  // the panel's place, so the bridge's form window receives its frames.
  Install3DApplicationGate(app.get());
  int exit_code = 0;
  {
    Ref<TMainForm> form;
    try {
      form = MakeRef<TMainForm>(&CreateWinFormController);
    } catch (const Exception& e) {
      LogLine(u"Exception at MainForm.Create (" + SystemUTF8ToWide(e.what()) + u")");
      app->Terminate();
    }
    TFrameService service;
    TMultiTimerEvent* timer = nullptr;
    if (form) {
      g_form = form.get();
      timer = MultiTimerAddEvent(10, 0, TTimerEventHandler::Bind<&TFrameService::Tick>(&service));
      bool started = false;
      try {
        started = form->Start();
      } catch (const std::exception& e) {
        // Departure: a failure while the show opens (such as no usable font)
        // is shown as "Slideshow Error" and ends the program with 1 instead
        // of escaping main.
        LogLine(u"Exception at MainForm.Start (" + SystemUTF8ToWide(e.what()) + u")");
        ShowSlideshowError(SystemUTF8ToWide(e.what()));
      }
      if (started) app->Run();
      else exit_code = 1;
    }
    if (timer) MultiTimerRemoveEvent(timer);
    g_form = nullptr;
    try {
      form = nullptr;
    } catch (const Exception& e) {
      LogLine(u"Exception at MainForm.Free (" + SystemUTF8ToWide(e.what()) + u")");
    }
  }
  Uninstall3DApplicationGate();
  if (!app->Finalized()) app->Finalize();
  app = nullptr;
  FreeEngine3D();
  SetDirect3DFactory(nullptr);
  g_bridge = nullptr;
  WriteEndBanner(GetGlobalLog().get());
  DoneProcessServices();
  return exit_code;
}
