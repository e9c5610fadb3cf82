// The resources built into Tessary.exe: the manifest, the version information,
// the program icon and the guide texts, read from the built file as Windows reads
// them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/plate_identity.h"
#include "support/desk_process_win.h"

namespace tessary::testing {
namespace {

// The program file mapped for its resources only; nothing of it runs.
class ProgramResources : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(tessaryExe())) << "build the Tessary target first: " << tessaryExe();
    module = LoadLibraryExW(tessaryExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }

  std::string_view resource(LPCWSTR type, int id) const {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    return bytes ? std::string_view(static_cast<const char*>(bytes), SizeofResource(module, found))
                 : std::string_view();
  }

  HMODULE module = nullptr;
};

TEST_F(ProgramResources, ManifestAsksForWhatTheProgramNeeds) {
  const std::string_view manifest = resource(MAKEINTRESOURCEW(24), 1);  // RT_MANIFEST
  ASSERT_FALSE(manifest.empty());
  for (const char* needed : {
           R"(name="Tessary" version="1.0.0.0" processorArchitecture="amd64")",
           R"(level="asInvoker" uiAccess="false")",
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10
           ">PerMonitorV2</dpiAwareness>",
           ">true/pm</dpiAware>",
           ">true</longPathAware>",
           R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
       }) {
    EXPECT_NE(manifest.find(needed), std::string_view::npos) << needed;
  }
}

TEST_F(ProgramResources, VersionInformationNamesTheProgram) {
  // The version functions live in version.dll, which the program itself never needs.
  HMODULE versionDll = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  ASSERT_NE(versionDll, nullptr);
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  auto infoSize = reinterpret_cast<SizeFn>(reinterpret_cast<void*>(GetProcAddress(versionDll, "GetFileVersionInfoSizeW")));
  auto info = reinterpret_cast<InfoFn>(reinterpret_cast<void*>(GetProcAddress(versionDll, "GetFileVersionInfoW")));
  auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(versionDll, "VerQueryValueW")));
  ASSERT_TRUE(infoSize && info && query);

  const std::wstring exe = tessaryExe().wstring();
  DWORD ignored = 0;
  const DWORD size = infoSize(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> block(size);
  ASSERT_TRUE(info(exe.c_str(), 0, size, block.data()));

  struct Field {
    const wchar_t* name;
    const wchar_t* value;
  };
  for (const Field& f : {Field{L"ProductName", L"Tessary"}, Field{L"FileVersion", L"1.0.0"},
                         Field{L"ProductVersion", L"1.0.0"},
                         Field{L"FileDescription", L"Tessary - Scientific image study desk"},
                         Field{L"InternalName", L"Tessary"}, Field{L"OriginalFilename", L"Tessary.exe"}}) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + f.name;
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), path.c_str(), reinterpret_cast<LPVOID*>(&value), &length)) << "no " << std::string(path.begin(), path.end());
    EXPECT_EQ(std::wstring(value), f.value);
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(query(block.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  FreeLibrary(versionDll);
}

#pragma pack(push, 2)
struct IconGroupEntry {  // GRPICONDIRENTRY
  BYTE width;
  BYTE height;
  BYTE colorCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ProgramResources, IconHasEightPngImagesFrom16To256Pixels) {
  const std::string_view group = resource(RT_GROUP_ICON, 101);
  ASSERT_GE(group.size(), 6u);
  WORD count = 0;
  std::memcpy(&count, group.data() + 4, sizeof(count));
  ASSERT_EQ(count, 8);
  ASSERT_EQ(group.size(), 6u + count * sizeof(IconGroupEntry));

  std::set<int> sizes;
  for (WORD i = 0; i < count; ++i) {
    IconGroupEntry entry{};
    std::memcpy(&entry, group.data() + 6 + i * sizeof(IconGroupEntry), sizeof(entry));
    const int side = entry.width == 0 ? 256 : entry.width;
    sizes.insert(side);
    EXPECT_EQ(entry.bitCount, 32);
    const std::string_view image = resource(RT_ICON, entry.id);
    ASSERT_EQ(image.size(), entry.bytesInRes);
    // A PNG of exactly that size, 8-bit RGBA.
    ASSERT_GT(image.size(), 33u);
    EXPECT_EQ(image.substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
    const auto be32 = [&](std::size_t at) {
      return (static_cast<unsigned>(static_cast<unsigned char>(image[at])) << 24) |
             (static_cast<unsigned>(static_cast<unsigned char>(image[at + 1])) << 16) |
             (static_cast<unsigned>(static_cast<unsigned char>(image[at + 2])) << 8) |
             static_cast<unsigned>(static_cast<unsigned char>(image[at + 3]));
    };
    EXPECT_EQ(be32(16), static_cast<unsigned>(side));
    EXPECT_EQ(be32(20), static_cast<unsigned>(side));
    EXPECT_EQ(image[24], 8);  // bit depth
    EXPECT_EQ(image[25], 6);  // RGBA
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 20, 24, 32, 48, 64, 128, 256}));

  // Windows draws it: the icon loads at the system's sizes.
  HICON large = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(large, nullptr);
  if (large) DestroyIcon(large);
  HICON small = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_ICON, 16, 16, 0));
  EXPECT_NE(small, nullptr);
  if (small) DestroyIcon(small);
}

TEST_F(ProgramResources, GuideTextsCarryTheCreditsAndTheLibrarysOwnLicence) {
  const std::string credits(resource(RT_RCDATA, 320));
  const std::string licence(resource(RT_RCDATA, 321));
  ASSERT_FALSE(credits.empty());
  ASSERT_FALSE(licence.empty());

  const std::string description = kPlateDescription;
  EXPECT_NE(credits.find(description), std::string::npos);
  EXPECT_NE(credits.find("JSON for Modern C++, version 3."), std::string::npos);
  EXPECT_NE(credits.find("MIT License, Copyright (c) 2013-2022 Niels Lohmann"), std::string::npos);

  EXPECT_EQ(licence.rfind("MIT License\n\nCopyright (c) 2013-2022 Niels Lohmann\n\nPermission is hereby granted", 0), 0u);
  EXPECT_NE(licence.find("The above copyright notice and this permission notice shall be included in all copies or "
                         "substantial portions of the Software."),
            std::string::npos);
  EXPECT_EQ(licence.substr(licence.size() - 9), "SOFTWARE.") << "no line break after the text";
}

}  // namespace
}  // namespace tessary::testing
