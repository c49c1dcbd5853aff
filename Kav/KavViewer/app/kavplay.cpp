// kavplay: plays the show appended to the program, a show file or a project
// folder named on the command line; "kavplay --help" lists the options
// (Kav/KavViewer/KavUsage.cpp).
#include <SDL.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <memory>
#include <vector>

#include "Kav/KavViewer/KavMainForm.h"
#include "Kav/KavViewer/KavShowMusic.h"
#include "Kav/KavViewer/KavShowSlides.h"
#include "Kav/KavViewer/KavUsage.h"
#include "KavLib2/NavPanel/KavThirdSlide.h"
#include "Kav/KavViewer/app/KavPresentBridge.h"
#include "KavLib2/KavProcess/KavMemoryPolicy.h"
#include "KavLib2/KavProcess/KavProcessHooks.h"
#include "KavLib2/KavViewer/KavZStream.h"
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
#include "VoRav/vxPaths.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/wpExceptions.h"
#include "platform/d3d/SwDirect3D.h"
#include "platform/d3d/gl/GlDevice.h"
#include "platform/d3d/gl/sdl/GlSdlContext.h"
#include "platform/dialogs/SessionBus.h"
#include "platform/display/sdl/SdlDisplay.h"
#include "platform/print/cups/CupsSpooler.h"
#include "KavLib2/KavDialogs/KavDialogs.h"
#include "KavLib2/KavDialogs/winDpiMetrics.h"
#include "KavLib2/KavPrint/Printers.h"
#include "platform/sound/sdl/SndSdlDevice.h"
#include "platform/window/WinApi.h"
#include "platform/window/sdl/SdlBoxProgram.h"
#include "platform/window/sdl/SdlX11.h"
#include "platform/window/WinTerminate.h"

using namespace kav;

namespace {

// How long the session bus may take to answer our Hello at start: a working
// bus answers in milliseconds, also on a loaded machine.
constexpr std::chrono::milliseconds kBusAnswerTime{5000};

Ref<TWindowPresentBridge> g_bridge;
TMainForm* g_form = nullptr;
bool g_log_on_stderr = false;

void UpdateDisplays() {
  DisplayService()->Update();
}

// The software device's adapters are the display's monitors, so an
// exclusive full-screen device gets the real screen's size (the default is
// one 1920 x 1080 monitor).
std::vector<TSwMonitor> DeviceMonitors() {
  std::vector<TSwMonitor> out;
  for (const TDisplayMonitor& m : DisplayService()->Monitors()) {
    if (m.Bounds.IsEmpty()) continue;
    TSwMonitor d;
    d.Bounds = TSwRect{m.Bounds.Left, m.Bounds.Top, m.Bounds.Right, m.Bounds.Bottom};
    if (m.RefreshRate > 0) d.RefreshRate = uint32_t(m.RefreshRate);
    out.push_back(d);
  }
  return out;
}

// The GL device on the player's windows when the choice allows it and a GL
// 3.3 context can be made; null for the software device. Logs the device.
Ref<TGlSystem> StartGlDevice(win::TSdlWindowBackend* sdl) {
  std::string problem;
  const TDeviceChoice choice = ChooseDevice(nullptr, std::getenv("KAV_DEVICE"), &problem);
  if (!problem.empty()) std::fprintf(stderr, "kavplay: %s; the device is chosen by itself\n", problem.c_str());
  if (choice == TDeviceChoice::Sw) {
    LogLine(u"3D device: software (chosen)");
    return nullptr;
  }
  // Chosen by itself the player keeps its own software device where OpenGL
  // would rasterise on the CPU too: a machine without a graphics card's
  // device node has no other OpenGL, and making a context there (and
  // compiling the device's shaders in it) only costs time at every start,
  // seconds on a busy machine.
  if (choice == TDeviceChoice::Auto && !HasGraphicsDeviceNode()) {
    LogLine(u"3D device: software (no graphics card: neither /dev/dri nor /dev/nvidia0)");
    return nullptr;
  }
  std::string error;
  Ref<TGlSystem> gl;
  std::string software;  // the renderer, when it rasterises on the CPU
  {
    // An X server may refuse the GL context with an X error (indirect GLX
    // over ssh -X, or Xvfb without +iglx): that means no OpenGL here.
    win::TX11ErrorTrap trap;
    Ref<TGlContext> context = CreateGlSdlContext(
        [](TSwWindow w) { return g_bridge ? g_bridge->SdlWindow(w) : nullptr; }, &error);
    // A renderer that rasterises on the CPU is no graphics card: chosen by
    // itself the player keeps its own software device, which is lighter
    // there. The renderer is read before the device compiles its shaders.
    if (context && choice == TDeviceChoice::Auto) {
      const std::string renderer = GlContextRenderer(context.get());
      if (GlRendererIsSoftware(renderer)) software = renderer;
    }
    if (context && software.empty()) gl = TGlSystem::Create(context, &error);
    if (gl && choice == TDeviceChoice::Auto && GlRendererIsSoftware(gl->Info().Renderer)) {
      software = gl->Info().Renderer;
      gl = nullptr;
    }
    std::string x_error;
    if (trap.Caught(&x_error)) {
      gl = nullptr;
      software.clear();
      error = "the X server refused it: " + x_error;
    }
  }
  if (!software.empty()) {
    LogLine(u"3D device: software (the OpenGL renderer \"" + SystemUTF8ToWide(software) +
            u"\" draws on the CPU; --device=gl uses it)");
    return nullptr;
  }
  if (!gl) {
    LogLine(u"3D device: software (no OpenGL 3.3: " + SystemUTF8ToWide(error) + u")");
    if (choice == TDeviceChoice::Gl)
      std::fprintf(stderr, "kavplay: OpenGL cannot be used (%s); drawing with the software device\n",
                   error.c_str());
    return nullptr;
  }
  const TGlInfo& info = gl->Info();
  // Device windows must be OpenGL windows to be presented into.
  sdl->ExtraWindowFlags |= SDL_WINDOW_OPENGL;
  LogLine(u"3D device: OpenGL, renderer \"" + SystemUTF8ToWide(info.Renderer) + u"\", version \"" +
          SystemUTF8ToWide(info.Version) + u"\", vendor \"" + SystemUTF8ToWide(info.Vendor) + u"\"");
  return gl;
}

struct TFrameService {
  void Tick(TTimerEvent*) {
    if (g_bridge && g_form && g_form->Controller()) g_bridge->Service(g_form->Controller()->GetHandle());
  }
};

// Departure: "-log" has no debugger output to send lines to on Linux, so
// they go to the standard error output, whole lines under the lock.
class TStderrLog : public TExclLog {
 public:
  void WriteRaw(const std::u16string& text) override {
    const std::string line = WideToSystemUTF8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
};

// Errors the application reports (an exception that reached the message
// loop) are shown in a message box like the player's own. Departure: paths
// in them are shown with "/", as Linux paths.
void ShowError(const std::string& text, const char* caption) {
  std::string shown = text;
  for (char& ch : shown)
    if (ch == '\\') ch = '/';
  win::MessageBox(0, SystemUTF8ToWide(shown), SystemUTF8ToWide(caption), win::MB_ICONERROR | win::MB_TASKMODAL);
}

// The file log, appended to by every player that runs with "-filelog": each
// line starts with the player's process id ("pid N: ") so each player's
// lines can be told apart. Departure: the prefix also starts each line
// inside a text of several lines, not only the text's first.
class TSharedFileLog : public TFileLog {
 public:
  explicit TSharedFileLog(const std::u16string& path) : TFileLog(path, true) {
    Prefix = u"pid " + SystemUTF8ToWide(std::to_string(getpid())) + u": ";
  }
  void WriteRaw(const std::u16string& text) override {
    std::u16string marked;
    marked.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      marked += text[i];
      const bool line_ends = text[i] == u'\n' || (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'));
      if (line_ends) marked += Prefix;
    }
    TFileLog::WriteRaw(marked);
  }
};

Ref<TLog> OpenFileLog(const std::u16string& path) {
  try {
    return Ref<TLog>::Adopt(new TSharedFileLog(path));
  } catch (const Exception&) {
    return nullptr;
  }
}

// Whether SDL's video driver is one that shows nothing while the environment
// did not name it (SDL_VIDEODRIVER, a comma-separated list of drivers).
bool HeadlessDriverNotAsked(const char* driver) {
  if (!driver) return true;
  if (SDL_strcasecmp(driver, "offscreen") != 0 && SDL_strcasecmp(driver, "dummy") != 0) return false;
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if (!asked) return true;
  const std::string list = asked;
  size_t from = 0;
  while (from <= list.size()) {
    size_t to = list.find(',', from);
    if (to == std::string::npos) to = list.size();
    if (SDL_strcasecmp(list.substr(from, to - from).c_str(), driver) == 0) return false;
    from = to + 1;
  }
  return true;
}

// Each thing of the show the player cannot use, once: on stderr (where the
// "-log" log already goes, that line alone) and in the log.
void SayShowProblem(const TShowProblem& problem) {
  const std::u16string where =
      problem.Line > 0 ? u"Project.kav:" + SystemUTF8ToWide(std::to_string(problem.Line)) + u": " : u"";
  const std::u16string text = where + ShowProblemText(problem);
  LogLine(u"Show problem: " + text);
  if (!g_log_on_stderr) std::fprintf(stderr, "kavplay: %s\n", WideToSystemUTF8(text).c_str());
}

void StartLog() {
  const TCommandsStorage* c = CommandLineCommands();
  if (c && c->FindCommand(u"filelog")) {
    // Departure: the file log goes to the user's state folder, never beside
    // the program (an installed player sits in a bin folder); a log that
    // cannot be written is reported instead of dropped in silence.
    const std::u16string user = UserLogPath();
    Ref<TLog> log;
    if (!user.empty() && ForceDirectories(ExtractFileDir(user, false))) log = OpenFileLog(user);
    if (log) SetGlobalLog(log);
    else std::fprintf(stderr, "kavplay: the log file cannot be written (%s)\n",
                      user.empty() ? "neither XDG_STATE_HOME nor HOME is set" : WideToSystemUTF8(user).c_str());
  } else if (c && c->FindCommand(u"log")) {
    SetGlobalLog(MakeRef<TStderrLog>());
    g_log_on_stderr = true;
  }
  WriteStartBanner(GetGlobalLog().get());
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: this program run again to show a message box
  // (the window layer's box program) shows it and ends.
  if (const int box = win::RunIfBoxProgram(argc, argv); box >= 0) return box;
  InitCommandLine(argc, argv);
  const std::string program = argc > 0 && argv[0] ? WideToSystemUTF8(ExtractLastPathPart(SystemUTF8ToWide(argv[0])))
                                                  : std::string("kavplay");
  if (WantsUsage(nullptr)) {
    std::fputs(PlayerUsage(program).c_str(), stdout);
    return 0;
  }
  // Departure: the usage text, and nothing to play, are answered before any
  // window opens (exit 2 for nothing to play), so they read the same on a
  // terminal without a display.
  {
    std::vector<std::u16string> raw;
    if (TStringList* tokens = CommandLineTokens())
      for (int32_t i = 0; i < tokens->Count(); ++i) raw.push_back(tokens->GetString(i));
    std::string problem;
    const std::vector<std::string> names = AllowedProgramNames(raw, &problem);
    if (!problem.empty()) {
      std::fprintf(stderr, "%s: %s\n", program.c_str(), problem.c_str());
      return 2;
    }
    std::vector<std::string> problems;
    const TAllowedPrograms allowed = MakeAllowedPrograms(names, &problems);
    for (const std::string& p : problems)
      std::fprintf(stderr, "%s: --allow-programs: %s\n", program.c_str(), p.c_str());
    if (allowed.ShowPrograms && ChooseShow(nullptr).Packed)
      std::fprintf(stderr, "%s: --allow-programs: show: a packed show carries no program the player starts; "
                   "\"show\" allows nothing for it\n", program.c_str());
  }
  if (const std::u16string problem = ShowChoiceProblem(ChooseShow(nullptr)); !problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), WideToSystemUTF8(problem).c_str());
    return 2;
  }
  // Large blocks stay mapped for themselves, so a looping show's heap does
  // not grow with holes over a long run.
  SetLongRunHeapPolicy();
  InitProcessServices();
  // Without a display SDL's probe of Wayland writes its own complaint
  // ("XDG_RUNTIME_DIR is invalid") before ours: with neither display named,
  // ours is said without starting SDL's video; with only X named, only X is
  // tried.
  if (const char* asked = std::getenv("SDL_VIDEODRIVER"); !asked || !*asked) {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool has_x = x && *x, has_wayland = wayland && *wayland;
    if (!has_x && !has_wayland) {
      std::fprintf(stderr,
                   "kavplay: no display: neither DISPLAY nor WAYLAND_DISPLAY is set; set DISPLAY to a running X "
                   "server, or SDL_VIDEODRIVER=dummy or offscreen to run without a screen\n");
      return 1;
    }
    if (!has_wayland) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  }
  // Before SDL starts: SIGTERM and SIGINT end the program from anywhere,
  // a modal window or a file chooser included; until the window system can
  // be woken they end it at once.
  win::InstallTerminationSignals();
  win::SetStartingUp(true);
  // A package's entry being inflated far ahead (a clip's demuxer looking
  // past its media data, under the media library's lock) gives up on a
  // signal, whichever thread inflates it.
  SetInflateStopCheck(&win::TerminationRequested);
  // SDL's video set-up waits for the session bus without a limit: a bus
  // that does not answer in time (a stopped dbus-daemon) is named to nobody,
  // SDL and the portal chooser included (no other thread reads the
  // environment yet).
  if (const std::string bus = dialogs::SessionBusAddress(); !bus.empty()) {
    std::string why;
    if (!dialogs::BusAnswers(bus, kBusAnswerTime, &why)) {
      std::fprintf(stderr, "kavplay: going on without the session bus: %s\n", why.c_str());
      dialogs::HideSessionBus();
    }
  }
  std::string error;
  auto display = TSdlDisplay::Create(&error);
  if (!display) {
    const char* x = std::getenv("DISPLAY");
    if (x && *x && !std::getenv("WAYLAND_DISPLAY"))
      std::fprintf(stderr, "kavplay: no display: cannot open the X display \"%s\" (%s); set DISPLAY to a running X server\n",
                   x, error.c_str());
    else
      std::fprintf(stderr, "kavplay: no display: %s\n", error.c_str());
    return 1;
  }
  // Departure (no such case on Windows): SDL falls back to a driver without
  // a screen (offscreen) when no display can be opened, and the show would
  // play unseen for ever; such a driver is used only when asked for by name.
  if (const char* driver = SDL_GetCurrentVideoDriver(); HeadlessDriverNotAsked(driver)) {
    const char* display_name = std::getenv("DISPLAY");
    const std::string what = display_name ? "cannot open the X display \"" + std::string(display_name) + "\""
                                          : std::string("DISPLAY is not set");
    std::fprintf(stderr,
                 "kavplay: no display: %s (SDL fell back to its \"%s\" driver, which shows nothing); set DISPLAY "
                 "to a running X server, or SDL_VIDEODRIVER=dummy or offscreen to run without a screen\n",
                 what.c_str(), driver ? driver : "");
    return 1;
  }
  SetDisplayService(display);
  auto backend = std::make_unique<win::TSdlWindowBackend>();
  win::TSdlWindowBackend* sdl = backend.get();
  win::InitWindowSystem(std::move(backend));
  win::SetStartingUp(false);  // a signal now wakes the GUI thread's loops
  win::SetDisplayChangeHandler(&UpdateDisplays);
  Screen()->Refresh();
  if (GetScreenBitsPerPixel() < 16) {
    win::MessageBox(0, u"Currently you have 256 or 16 colors display mode.\rSet True color or High color display mode.",
                    u"Slideshow Error", 0x30);
    return 1;
  }
  StartLog();
  SetShowProblemSink(&SayShowProblem);
  // Text readers, pictures, text, transitions, object kinds, video, custom
  // transitions and slide production (the show music installs its own sound
  // hooks).
  InstallShowServices();
  TSndSdlDevice::Install(512, [] { std::fputs("kavplay: no sound device: playing silently\n", stderr); });
  print::SetPrintSpooler(std::make_shared<print::TCupsSpooler>());
  InstallShowMusic();
  RegisterNavOverlay();
  // Colour management follows the show's options once the colour layer's
  // display profile is wired here; libraries are never loaded from a show.

  auto sink = MakeRef<TSwSdlSink>();
  sink->SetWaker(sdl->Waker());  // the GUI thread waits outside SDL with SDL's X11 driver
  g_bridge = MakeRef<TWindowPresentBridge>(sink, sdl);
  Ref<TGlSystem> gl = StartGlDevice(sdl);
  SetDirect3DFactory([gl] {
    TSwConfig config;
    config.Sink = g_bridge;
    config.Backend = gl;
    std::vector<TSwMonitor> monitors = DeviceMonitors();
    if (!monitors.empty()) config.Monitors = std::move(monitors);
    return MakeRef<TSwDirect3D>(config);
  });
  RegisterDirect3DEngine();

  SetErrorDisplay(&ShowError);
  Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
  app->Initialize();
  InitDpiMetrics();
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
      // Frames presented from the engine thread are shown as soon as the
      // sink's wake event reaches the GUI thread; the timer only keeps the
      // window's id and size known to the sink (presenting needs them), so
      // a still picture does not wake the GUI thread a hundred times a
      // second.
      const uint32_t frame_event = sink->WakeEventType();
      sdl->OnOtherEvent = [frame_event, &service](uint32_t type) {
        if (type == frame_event) service.Tick(nullptr);
      };
      // An empty new surface (a size change, every map of a full-screen
      // window) gets the device's last frame back: a still slide presents
      // no other.
      TSwSdlSink* frames = sink.get();
      sdl->OnSurfaceLost = [frames](SDL_Window* window) { frames->Reshow(TSwWindow(SDL_GetWindowID(window))); };
      timer = MultiTimerAddEvent(50, 0, TTimerEventHandler::Bind<&TFrameService::Tick>(&service));
      bool started = false;
      // A signal while the player was starting (making the GL device can
      // take seconds on a busy machine) ends it here: the show is not opened.
      const bool ending = win::TerminationRequested();
      try {
        if (!ending) started = form->Start();
      } catch (const std::exception& e) {
        // Departure: a failure while the show opens (such as no usable font)
        // is shown as "Slideshow Error" and ends the program with 1 instead
        // of escaping main.
        LogLine(u"Exception at MainForm.Start (" + SystemUTF8ToWide(e.what()) + u")");
        ShowSlideshowError(SystemUTF8ToWide(e.what()));
      }
      if (started) app->Run();
      else if (!ending) exit_code = 1;
    }
    if (timer) MultiTimerRemoveEvent(timer);
    sdl->OnOtherEvent = nullptr;
    sdl->OnSurfaceLost = nullptr;
    g_form = nullptr;
    try {
      form = nullptr;
    } catch (const Exception& e) {
      LogLine(u"Exception at MainForm.Free (" + SystemUTF8ToWide(e.what()) + u")");
    }
  }
  Uninstall3DApplicationGate();
  DoneDialogToolkit();
  FreePrinter();
  if (!app->Finalized()) app->Finalize();
  app = nullptr;
  SetErrorDisplay(nullptr);
  FreeEngine3D();
  SetDirect3DFactory(nullptr);
  gl = nullptr;
  g_bridge = nullptr;
  SetShowProblemSink(nullptr);
  WriteEndBanner(GetGlobalLog().get());
  DoneProcessServices();
  return exit_code;
}
