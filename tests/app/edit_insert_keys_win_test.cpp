// Ctrl+Shift+Insert in the note box and in the read-only guide text: the edit
// control pastes on Insert whenever Shift is down, past its own paste message, so
// the desk's subclass procedure routes that key through its paste filter. Real
// boxes with the desk's styles on the display, and real key presses through the
// system's input queue.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <string>

#include "app/app_session_win.h"
#include "app/tray_and_edit_win.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

constexpr DWORD kNoteBoxStyle = 0x50211044;   // the note box's style
constexpr DWORD kGuideTextStyle = 0x50210844;  // the guide text's style, shown
constexpr wchar_t kParentClass[] = L"TessaryInsertKeysParent";

std::wstring textOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool putClipboard(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool placed = false;
  if (block) {
    std::memcpy(GlobalLock(block), text.c_str(), bytes);
    GlobalUnlock(block);
    placed = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    if (!placed) GlobalFree(block);
  }
  CloseClipboard();
  return placed;
}

INPUT keyInput(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (key == VK_INSERT ? KEYEVENTF_EXTENDEDKEY : 0);
  return input;
}

class EditInsertKeys : public ::testing::TestWithParam<DWORD> {
 protected:
  void SetUp() override {
    WNDCLASSW parentClass{};
    parentClass.lpfnWndProc = DefWindowProcW;
    parentClass.hInstance = GetModuleHandleW(nullptr);
    parentClass.lpszClassName = kParentClass;
    RegisterClassW(&parentClass);
    parent = CreateWindowExW(0, kParentClass, L"insert keys", WS_POPUP | WS_VISIBLE, 40, 40, 400, 200, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    box = CreateWindowExW(0, L"EDIT", L"", GetParam(), 10, 10, 300, 120, parent, nullptr, GetModuleHandleW(nullptr),
                          nullptr);
    ASSERT_NE(box, nullptr);
    SendMessageW(box, EM_SETLIMITTEXT, 2400, 0);
    ASSERT_TRUE(SetWindowSubclass(box, editSubclassProc, kEditSubclassId, 0));
    SetWindowTextW(box, L"keep");
    SendMessageW(box, EM_SETSEL, 4, 4);
    SetForegroundWindow(parent);
    SetFocus(box);
    ASSERT_EQ(GetFocus(), box);
    appSession().statusText.clear();
    appSession().statusIsError = false;
  }
  void TearDown() override {
    if (parent) DestroyWindow(parent);
  }

  // Ctrl and Shift held, Insert pressed, both let go, as a person does it; the
  // messages are handled until the last key-up has been.
  bool pressCtrlShiftInsert() {
    INPUT inputs[] = {keyInput(VK_CONTROL, false), keyInput(VK_SHIFT, false), keyInput(VK_INSERT, false),
                      keyInput(VK_INSERT, true),   keyInput(VK_SHIFT, true),   keyInput(VK_CONTROL, true)};
    if (SendInput(6, inputs, sizeof(INPUT)) != 6) return false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        if (message.message == WM_KEYUP && message.wParam == VK_CONTROL) return true;
      }
    }
    return false;
  }

  bool readOnly() const { return (GetParam() & ES_READONLY) != 0; }

  HWND parent = nullptr;
  HWND box = nullptr;
};

TEST_P(EditInsertKeys, RefusedTextIsNotPasted) {
  ASSERT_TRUE(putClipboard(parent, L"ok \u0416"));
  ASSERT_TRUE(pressCtrlShiftInsert()) << "the key presses did not arrive";
  EXPECT_EQ(textOf(box), L"keep");
  if (readOnly()) {
    EXPECT_TRUE(appSession().statusText.empty()) << "the read-only box pastes nothing, and says nothing";
  } else {
    EXPECT_EQ(appSession().statusText, uiText(appSession().language, 28));
    EXPECT_TRUE(appSession().statusIsError);
  }
}

TEST_P(EditInsertKeys, AcceptedTextIsPastedOnlyIntoAnEditableBox) {
  ASSERT_TRUE(putClipboard(parent, L" pale crest"));
  ASSERT_TRUE(pressCtrlShiftInsert()) << "the key presses did not arrive";
  EXPECT_EQ(textOf(box), readOnly() ? L"keep" : L"keep pale crest");
  EXPECT_TRUE(appSession().statusText.empty());
}

INSTANTIATE_TEST_SUITE_P(NoteBoxAndGuideText, EditInsertKeys, ::testing::Values(kNoteBoxStyle, kGuideTextStyle),
                         [](const ::testing::TestParamInfo<DWORD>& info) {
                           return std::string((info.param & ES_READONLY) != 0 ? "GuideText" : "NoteBox");
                         });

}  // namespace
}  // namespace tessary
