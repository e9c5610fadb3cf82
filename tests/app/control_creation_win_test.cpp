// The desk's controls as they are born and first drawn, watched from inside the
// thread that creates them: a CBT hook sees each control's creation style, and the
// parent window sees every owner-drawn button's first WM_DRAWITEM. Without an image
// no tool may exist or be drawn enabled, not even for a moment.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>

#include "app/control_ids.h"
#include "app/controls_win.h"
#include "app/desk_view_win.h"
#include "app/session_state.h"
#include "app/status_and_controls.h"

namespace tessary {
namespace {

std::map<int, DWORD>& creationStyles() {
  static std::map<int, DWORD> styles;
  return styles;
}

std::map<int, UINT>& firstDrawStates() {
  static std::map<int, UINT> states;
  return states;
}

LRESULT CALLBACK watchCreation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    if ((create->style & WS_CHILD) != 0) {
      creationStyles()[static_cast<int>(reinterpret_cast<INT_PTR>(create->hMenu))] = static_cast<DWORD>(create->style);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    firstDrawStates().emplace(static_cast<int>(item->CtlID), item->itemState);
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(ControlCreation, WithoutAnImageNoToolIsBornOrFirstDrawnEnabled) {
  creationStyles().clear();
  firstDrawStates().clear();
  WNDCLASSW parentClass{};
  parentClass.lpfnWndProc = parentProc;
  parentClass.hInstance = GetModuleHandleW(nullptr);
  parentClass.lpszClassName = L"TessaryControlCreationTest";
  RegisterClassW(&parentClass);
  HWND parent = CreateWindowExW(0, L"TessaryControlCreationTest", L"", WS_POPUP, 0, 0, 1300, 850, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);

  // The state at start-up: the plate's load has not begun, there is no image.
  Session session;
  session.instance = GetModuleHandleW(nullptr);
  session.mainWindow = parent;
  WindowDeskView view(session);
  session.view = &view;

  HHOOK hook = SetWindowsHookExW(WH_CBT, watchCreation, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  createControls(session);
  UnhookWindowsHookEx(hook);
  layoutControls(session);
  ShowWindow(parent, SW_SHOWNOACTIVATE);
  UpdateWindow(parent);
  MSG message;
  for (int round = 0; round < 20; ++round) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }

  ASSERT_EQ(creationStyles().size(), 22u);
  for (int id = ID_PLATE; id <= ID_QUIT; ++id) {
    const bool disabled = (creationStyles()[id] & WS_DISABLED) != 0;
    EXPECT_EQ(disabled, !controlEnabled(session, id)) << "control " << id << " was born in the wrong state";
  }
  for (int id = ID_FIT; id <= ID_EXPORT_NOTES; ++id) {
    EXPECT_NE(creationStyles()[id] & WS_DISABLED, 0u) << "tool " << id << " was born enabled";
    ASSERT_EQ(firstDrawStates().count(id), 1u) << "tool " << id << " was never drawn";
    EXPECT_NE(firstDrawStates()[id] & ODS_DISABLED, 0u) << "tool " << id << " was first drawn enabled";
  }
  EXPECT_EQ(firstDrawStates()[ID_PLATE] & ODS_DISABLED, 0u);

  session.view = nullptr;
  DestroyWindow(parent);
  UnregisterClassW(L"TessaryControlCreationTest", GetModuleHandleW(nullptr));
}

}  // namespace
}  // namespace tessary
