// Pasting into an edit box with the desk's own subclass procedure, in this
// process, from clipboard blocks placed with SetClipboardData: only whole,
// terminated, acceptable text within its memory block is pasted.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>

#include "app/app_session_win.h"
#include "app/tray_and_edit_win.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

std::wstring textOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

class EditPaste : public ::testing::Test {
 protected:
  void SetUp() override {
    box = CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 300, 30, nullptr, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(box, nullptr);
    SendMessageW(box, EM_SETLIMITTEXT, 16000, 0);
    ASSERT_TRUE(SetWindowSubclass(box, editSubclassProc, kEditSubclassId, 0));
    SetWindowTextW(box, L"keep");
    SendMessageW(box, EM_SETSEL, 4, 4);
    appSession().statusText.clear();
    appSession().statusIsError = false;
  }
  void TearDown() override {
    if (box) DestroyWindow(box);
  }

  // Puts a block holding exactly `units` (no terminating zero unless it is among
  // them) on the clipboard, as its owner, and checks that the clipboard hands
  // that very block back. The memory just after the block holds zeros, so a read
  // that ran past the block's end would find the units terminated there.
  void placeBlock(const std::wstring& units) {
    const SIZE_T bytes = units.size() * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes + 64);
    ASSERT_NE(block, nullptr);
    HGLOBAL shrunk = GlobalReAlloc(block, bytes, 0);
    ASSERT_EQ(shrunk, block) << "the block moved when it shrank";
    std::memcpy(GlobalLock(block), units.data(), bytes);
    GlobalUnlock(block);
    ASSERT_TRUE(OpenClipboard(box));
    EmptyClipboard();
    HANDLE placed = SetClipboardData(CF_UNICODETEXT, block);
    if (placed == nullptr) GlobalFree(block);
    ASSERT_NE(placed, nullptr);
    // Wine writes a zero into the last unit of text placed on its clipboard;
    // Windows keeps the block as it was given. The block is put back as given.
    HANDLE handedOut = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(handedOut, nullptr);
    auto* data = static_cast<wchar_t*>(GlobalLock(handedOut));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(GlobalSize(handedOut), bytes);
    std::memcpy(data, units.data(), bytes);
    GlobalUnlock(handedOut);
    CloseClipboard();
  }

  HWND box = nullptr;
};

TEST_F(EditPaste, AnUnterminatedBlockIsRefusedWhole) {
  placeBlock(L"abc");
  SendMessageW(box, WM_PASTE, 0, 0);
  EXPECT_EQ(textOf(box), L"keep");
  EXPECT_EQ(appSession().statusText, uiText(appSession().language, 28));
  EXPECT_TRUE(appSession().statusIsError);
}

TEST_F(EditPaste, ATerminatedBlockIsPastedUpToItsFirstZero) {
  placeBlock(std::wstring(L"abc\0zz", 6));
  SendMessageW(box, WM_PASTE, 0, 0);
  EXPECT_EQ(textOf(box), L"keepabc");
  EXPECT_TRUE(appSession().statusText.empty());
}

TEST_F(EditPaste, RefusedScriptOrTooLongTextIsRefusedWhole) {
  placeBlock(std::wstring(L"ok\u0416", 3) + L'\0');
  SendMessageW(box, WM_PASTE, 0, 0);
  EXPECT_EQ(textOf(box), L"keep");
  EXPECT_EQ(appSession().statusText, uiText(appSession().language, 28));

  appSession().statusText.clear();
  placeBlock(std::wstring(15997, L'a') + L'\0');
  SendMessageW(box, WM_PASTE, 0, 0);
  EXPECT_EQ(textOf(box), L"keep") << "4 + 15,997 units exceed the limit of 16,000";
  EXPECT_EQ(appSession().statusText, uiText(appSession().language, 28));
}

}  // namespace
}  // namespace tessary
