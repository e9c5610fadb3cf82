#pragma once
// Shared pieces for tests of the platform-free session rules: a window side that
// records what the rules asked of it, a temporary data folder, and a session set
// up the way an image load leaves it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "imaging/pixels.h"

namespace tessary::testing {

// The window side of the session, recording every call.
class RecordingView : public DeskView {
 public:
  void invalidate() override { ++invalidations; }
  void setControlEnabled(int controlId, bool enabled) override { enabledStates[controlId] = enabled; }
  void setControlText(int controlId, const std::u16string& text) override {
    texts[controlId] = text;
    textSets.push_back(controlId);
  }
  std::u16string controlText(int controlId) override { return texts[controlId]; }
  void focusControl(int controlId) override { focusRequests.push_back(controlId); }
  bool windowVisible() override { return true; }

  int invalidations = 0;
  std::map<int, bool> enabledStates;
  std::map<int, std::u16string> texts;
  std::vector<int> textSets;
  std::vector<int> focusRequests;
};

// A folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << "tessary-rules-" << stamp << "-" << counter++;
    path_ = std::filesystem::temp_directory_path() / name.str();
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::shared_ptr<const Pixels> makeImage(std::uint32_t width, std::uint32_t height,
                                               std::string sha256 = std::string(64, 'a')) {
  auto image = std::make_shared<Pixels>();
  image->width = width;
  image->height = height;
  image->sha256 = std::move(sha256);
  return image;
}

inline std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A session over a temporary data folder, holding an image with a fresh sheet whose
// file path is set as loading the image sets it, and a recording window side with
// the controls registered.
struct RulesSession {
  explicit RulesSession(std::uint32_t width = 400, std::uint32_t height = 300) {
    std::filesystem::create_directories(folder.path() / "observations");
    session.dataFolder = folder.path();
    session.storageAvailable = true;
    session.currentImage = makeImage(width, height);
    session.sheet = ObservationSheet{};
    session.sheet.imageSHA256 = session.currentImage->sha256;
    session.sheet.width = width;
    session.sheet.height = height;
    // The sheet's files as a load leaves them for an image seen for the first time.
    session.sheetStore.setClock([this] { return seconds; });
    session.sheetStore.load(folder.path() / "observations", SheetImage{session.currentImage->sha256, width, height},
                            session.sheet);
    session.sheetPath = session.sheetStore.activePath();
    session.view = &view;
    for (int id = ID_PLATE; id <= ID_QUIT; ++id) {
      // Any non-null handle marks the control as created; the recording view never
      // dereferences it.
      session.controls[id] = reinterpret_cast<NativeHandle>(static_cast<std::uintptr_t>(id));
    }
    session.tickNow = [this] { return tick; };
    session.unixNow = [this] { return seconds; };
  }
  RulesSession(const RulesSession&) = delete;
  RulesSession& operator=(const RulesSession&) = delete;

  TempFolder folder;
  RecordingView view;
  Session session;
  std::uint64_t tick = 100000;
  std::int64_t seconds = 1700000000;
};

}  // namespace tessary::testing
