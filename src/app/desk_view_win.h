#pragma once
// The DeskView over the real main window and its child controls.
#include "app/session_state.h"

namespace tessary {

class WindowDeskView final : public DeskView {
 public:
  explicit WindowDeskView(Session& session) : session_(session) {}

  void invalidate() override;
  void setControlEnabled(int controlId, bool enabled) override;
  void setControlText(int controlId, const std::u16string& text) override;
  std::u16string controlText(int controlId) override;
  void focusControl(int controlId) override;
  bool windowVisible() override;
  void keepKeyboard() override;

 private:
  Session& session_;
};

}  // namespace tessary
