#pragma once
// The one process-wide record of the running program. Only the user-interface
// thread touches it, except `pendingResult`, which a background job fills under
// `resultMutex`.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "exports/crop_geometry.h"
#include "imaging/pixels.h"
#include "observations/observation_sheet.h"
#include "observations/sheet_store.h"
#include "text/ui_strings.h"

namespace tessary {

enum class InteractionMode { Pan = 0, Mark = 1, Crop = 2 };

// What a background job (image load or crop export) hands back.
struct WorkerResult {
  std::shared_ptr<const Pixels> image;
  std::u16string path;
  bool isExport = false;
  bool ok = false;
};

// The return of the image that hiding released, when the desk is shown again.
struct ImageReturn {
  // Shown again while a job ran: the job's end brings the image back.
  bool afterJob = false;
  // The running job is the return itself.
  bool running = false;
};

struct UndoSlot {
  Marker marker;
  bool present = false;
};

// The window side of the session: the rules call it to show their effects. While
// no window exists (`Session::view` is null) the rules change nothing on screen.
class DeskView {
 public:
  virtual ~DeskView() = default;
  // Invalidates the whole client area without erasing.
  virtual void invalidate() = 0;
  virtual void setControlEnabled(int controlId, bool enabled) = 0;
  virtual void setControlText(int controlId, const std::u16string& text) = 0;
  virtual std::u16string controlText(int controlId) = 0;
  // Gives the keyboard focus to a control; 0 means the main window itself.
  virtual void focusControl(int controlId) = 0;
  virtual bool windowVisible() = 0;
  // Called after the enabled states changed: a disabled or hidden control cannot
  // keep the keyboard, so the window takes it back (only while it is the active
  // window of this program: the focus of other programs is never taken).
  virtual void keepKeyboard() {}
};

using NativeHandle = void*;  // a window, font, brush or icon handle of the platform

struct Session {
  // start-up
  NativeHandle instance = nullptr;
  NativeHandle mainWindow = nullptr;
  Language language = Language::English;
  std::filesystem::path dataFolder;  // empty when unavailable
  bool storageAvailable = true;
  NativeHandle uiFont = nullptr;
  // The family of the interface font and of every text the window draws.
  std::u16string uiFontFamily = u"Segoe UI";
  NativeHandle panelBrush = nullptr;
  NativeHandle appIcon = nullptr;

  // window
  std::int32_t clientWidth = 1300;
  std::int32_t clientHeight = 850;
  std::int64_t lastClockMinute = -1;
  bool dragging = false;
  std::int32_t lastMouseX = 0;
  std::int32_t lastMouseY = 0;
  InteractionMode interactionMode = InteractionMode::Pan;
  bool guideVisible = false;
  bool trayIconAdded = false;

  // status line and controls
  std::u16string statusText;
  bool statusIsError = false;
  // The status line reports how the last job the person started ended (a refused
  // load, a crop export's end) and nothing has been shown since: bringing back the
  // image that hiding released leaves that report, and the path box, as they are.
  bool jobOutcomeStanding = false;
  std::map<std::int32_t, NativeHandle> controls;
  bool suppressNoteEvents = false;

  // image and background job
  std::shared_ptr<const Pixels> currentImage;
  std::u16string currentPath;  // empty means the built-in plate
  std::u16string imageTitle;
  bool jobRunning = false;
  // The return of the image released by hiding (imaging/image_loading_win.h).
  ImageReturn imageReturn;
  std::thread jobThread;
  std::unique_ptr<WorkerResult> pendingResult;
  std::mutex resultMutex;

  // view
  double zoom = 1.0;
  double offsetX = 0;
  double offsetY = 0;

  // observations
  ObservationSheet sheet;
  std::filesystem::path sheetPath;
  bool dirty = false;
  std::int32_t selectedId = 0;
  std::int32_t listTop = 0;
  UndoSlot undoSlot;
  std::uint64_t lastEditTick = 0;
  std::int32_t autosaveAttempts = 0;
  // The files of the current image's sheet: what the store knows is on disk, and
  // whether it may write there.
  SheetStore sheetStore;

  // crop
  CropRect cropRect;
  double cropStartX = 0;
  double cropStartY = 0;

  // The window side; null without a window.
  DeskView* view = nullptr;
  // Clocks: milliseconds since the machine started (GetTickCount64 on Windows) and
  // whole seconds since 1970-01-01 UTC. Tests replace them to drive time.
  std::function<std::uint64_t()> tickNow = defaultTickNow;
  std::function<std::int64_t()> unixNow = defaultUnixNow;

  static std::uint64_t defaultTickNow();
  static std::int64_t defaultUnixNow();
};

}  // namespace tessary
