// No exception ends the desk: a command run by the keyboard pre-filter or by the
// window procedure that runs out of memory half-way leaves the process running and
// the controls refreshed from the session. A real desk window of this process (its
// own window procedure, controls and message loop) on the display; the memory runs
// out where the system's allocator would refuse, at the allocation itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <new>
#include <string>

#include "app/app_session_win.h"
#include "app/control_ids.h"
#include "app/controls_win.h"
#include "app/desk_view_win.h"
#include "app/status_and_controls.h"
#include "app/window_proc_win.h"
#include "support/rules_session.h"
#include "support/test_allocator.h"

namespace tessary {
namespace {

constexpr wchar_t kGuardClass[] = L"TessaryGuardTestDesk";

class DeskGuard : public ::testing::Test {
 protected:
  void SetUp() override {
    Session& session = appSession();
    session.instance = GetModuleHandleW(nullptr);
    session.view = &view;
    WNDCLASSEXW deskClass{};
    deskClass.cbSize = sizeof(deskClass);
    deskClass.lpfnWndProc = deskWindowProc;
    deskClass.hInstance = GetModuleHandleW(nullptr);
    deskClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    deskClass.lpszClassName = kGuardClass;
    RegisterClassExW(&deskClass);
    window = CreateWindowExW(0, kGuardClass, L"Tessary", WS_POPUP | WS_THICKFRAME, 0, 0, 1320, 900, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    // An image with one marker whose note is long enough to need memory of its own
    // in the note box's text; nothing selected yet.
    session.currentImage = testing::makeImage(400, 300);
    session.sheet.marks.push_back(Marker{1, 100.0, 80.0, std::string(60, 'n'), 0});
    session.sheet.nextId = 2;
    session.selectedId = 0;
    updateControlStates(session);
    SetFocus(window);
    ASSERT_FALSE(removeEnabled());
    drain();
  }
  void TearDown() override {
    if (window) DestroyWindow(window);
    drain();
    appSession().view = nullptr;
  }

  // Handles what is waiting, up to the first WM_QUIT, outside the desk's loop.
  void drain() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) break;
      DispatchMessageW(&message);
    }
  }

  // The desk's own loop over `message` posted alone (a posted message is taken
  // before any paint or timer), with the next allocation on this thread refused.
  // True when the loop ended at its WM_QUIT rather than by an exception.
  bool loopOver(UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageW(window, message, wParam, lParam);
    PostQuitMessage(0);
    testing::AllocationWatch& watch = testing::allocationWatch();
    watch.refusals = 0;
    watch.grantedBeforeRefusal = 0;
    bool ended = true;
    try {
      runMessageLoop(appSession());
    } catch (...) {
      ended = false;
    }
    watch.grantedBeforeRefusal = -1;
    return ended;
  }

  bool enabled(int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }
  bool removeEnabled() { return enabled(ID_REMOVE_MARKER) && enabled(ID_SAVE_NOTE) && enabled(ID_NOTE_EDIT); }

  WindowDeskView view{appSession()};
  HWND window = nullptr;
};

// Home chooses the first marker in the pre-filter; putting its note into the note
// box finds no memory. The marker is chosen in the session, and the controls that
// act on a chosen marker are enabled as the state says.
TEST_F(DeskGuard, AKeyWhoseCommandRunsOutOfMemoryLeavesTheDeskRunningAndItsControlsRefreshed) {
  EXPECT_TRUE(loopOver(WM_KEYDOWN, VK_HOME, 1)) << "the exception left the message loop";
  EXPECT_EQ(testing::allocationWatch().refusals, 1) << "the command never asked for memory";
  EXPECT_EQ(appSession().selectedId, 1);
  EXPECT_TRUE(removeEnabled()) << "a marker is chosen but the controls still say none is";
  EXPECT_TRUE(IsWindow(window));
}

// A click on the first row of the marker list, handled by the window procedure,
// with the same failure.
TEST_F(DeskGuard, AClickWhoseCommandRunsOutOfMemoryLeavesTheControlsAsTheStateSays) {
  const Session& session = appSession();
  EXPECT_TRUE(loopOver(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(session.clientWidth - 200, 250)));
  EXPECT_EQ(testing::allocationWatch().refusals, 1) << "the command never asked for memory";
  EXPECT_EQ(appSession().selectedId, 1);
  EXPECT_TRUE(removeEnabled()) << "a marker is chosen but the controls still say none is";
}

}  // namespace
}  // namespace tessary
