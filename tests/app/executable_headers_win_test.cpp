// The headers of the built Tessary.exe as the Windows loader reads them: what kind
// of program it is, the protections it asks for, the DLLs it imports, and the
// manifest and version information it carries. The file is read as bytes and walked
// by hand, so a header the linker got wrong shows here and not only on a user's PC.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/desk_process_win.h"
#include "tessary_version.h"

namespace tessary::testing {
namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The program file's bytes and the structures in them, bounds-checked.
class ExecutableImage {
 public:
  explicit ExecutableImage(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  bool empty() const { return bytes_.empty(); }

  template <typename T>
  bool read(std::size_t offset, T& out) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, bytes_.data() + offset, sizeof(T));
    return true;
  }

  // Reads the DOS header, the NT headers and the section table; false when any is
  // missing or malformed.
  bool parseHeaders() {
    IMAGE_DOS_HEADER dos{};
    if (!read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return false;
    ntOffset_ = static_cast<std::size_t>(dos.e_lfanew);
    if (!read(ntOffset_, nt_) || nt_.Signature != IMAGE_NT_SIGNATURE) return false;
    if (nt_.FileHeader.SizeOfOptionalHeader < sizeof(IMAGE_OPTIONAL_HEADER64)) return false;
    const std::size_t sectionTable = ntOffset_ + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                     nt_.FileHeader.SizeOfOptionalHeader;
    sections_.resize(nt_.FileHeader.NumberOfSections);
    for (std::size_t i = 0; i < sections_.size(); ++i) {
      if (!read(sectionTable + i * sizeof(IMAGE_SECTION_HEADER), sections_[i])) return false;
    }
    return true;
  }

  const IMAGE_NT_HEADERS64& nt() const { return nt_; }

  const IMAGE_DATA_DIRECTORY& directory(int index) const { return nt_.OptionalHeader.DataDirectory[index]; }

  // The file offset of a relative virtual address, or SIZE_MAX outside every section.
  std::size_t offsetOf(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& s : sections_) {
      const DWORD size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < size) {
        const DWORD within = rva - s.VirtualAddress;
        if (within >= s.SizeOfRawData) return SIZE_MAX;
        return static_cast<std::size_t>(s.PointerToRawData) + within;
      }
    }
    return SIZE_MAX;
  }

  // A zero-terminated ASCII string at an RVA ("" when it runs off the file).
  std::string stringAt(DWORD rva) const {
    const std::size_t at = offsetOf(rva);
    if (at == SIZE_MAX) return {};
    std::string text;
    for (std::size_t i = at; i < bytes_.size() && bytes_[i] != '\0'; ++i) text += bytes_[i];
    return text;
  }

  // Names of the DLLs of the ordinary import table, lower-case, in table order.
  // `complete` is cleared when the table does not end where it should.
  std::vector<std::string> importedDlls(bool& complete) const {
    std::vector<std::string> names;
    complete = false;
    const IMAGE_DATA_DIRECTORY& imports = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (imports.VirtualAddress == 0) {
      complete = true;
      return names;
    }
    for (DWORD rva = imports.VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      IMAGE_IMPORT_DESCRIPTOR descriptor{};
      const std::size_t at = offsetOf(rva);
      if (at == SIZE_MAX || !read(at, descriptor)) return names;
      if (descriptor.Name == 0 && descriptor.FirstThunk == 0) break;
      names.push_back(lowerCase(stringAt(descriptor.Name)));
      if (names.size() > 1000) return names;
    }
    complete = true;
    return names;
  }

  // Names of the delay-loaded DLLs, lower-case.
  std::vector<std::string> delayLoadedDlls() const {
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY& delayed = directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
    if (delayed.VirtualAddress == 0) return names;
    for (DWORD rva = delayed.VirtualAddress;; rva += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
      IMAGE_DELAYLOAD_DESCRIPTOR descriptor{};
      const std::size_t at = offsetOf(rva);
      if (at == SIZE_MAX || !read(at, descriptor) || descriptor.DllNameRVA == 0) break;
      names.push_back(lowerCase(stringAt(descriptor.DllNameRVA)));
      if (names.size() > 1000) break;
    }
    return names;
  }

 private:
  std::vector<char> bytes_;
  std::size_t ntOffset_ = 0;
  IMAGE_NT_HEADERS64 nt_{};
  std::vector<IMAGE_SECTION_HEADER> sections_;
};

// The file (some 140 MB, most of it the plate) is read once for all the checks.
class ExecutableHeaders : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::filesystem::exists(tessaryExe())) {
      shared_ = new ExecutableImage(tessaryExe());
      parsed_ = shared_->parseHeaders();
    }
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(shared_, nullptr) << "build the Tessary target first: " << tessaryExe();
    ASSERT_FALSE(shared_->empty());
    ASSERT_TRUE(parsed_) << "not a 64-bit PE file";
    image = shared_;
  }

  const ExecutableImage* image = nullptr;

 private:
  static inline ExecutableImage* shared_ = nullptr;
  static inline bool parsed_ = false;
};

TEST_F(ExecutableHeaders, IsA64BitGuiProgram) {
  const IMAGE_NT_HEADERS64& nt = image->nt();
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI) << "a console program would open a console window";
  EXPECT_TRUE(nt.FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
  EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_DLL);
  EXPECT_TRUE(nt.FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
  // No newer Windows than 10 is asked for.
  EXPECT_LE(nt.OptionalHeader.MajorSubsystemVersion, 10);
}

TEST_F(ExecutableHeaders, AsksForAddressRandomisationAndDataExecutionPrevention) {
  const IMAGE_NT_HEADERS64& nt = image->nt();
  const WORD flags = nt.OptionalHeader.DllCharacteristics;
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << "no ASLR";
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << "ASLR limited to the low 4 GiB";
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << "no DEP";
  // A relocatable image needs its relocations: without them Windows loads it at its
  // preferred base whatever DYNAMIC_BASE says.
  EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
  EXPECT_GT(image->directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u);
  // A preferred base above 4 GiB, as high-entropy ASLR expects of 64-bit programs.
  EXPECT_GT(nt.OptionalHeader.ImageBase, 0xFFFFFFFFull);
}

TEST_F(ExecutableHeaders, CarriesNoLinkTimeStamp) {
  // Two builds of the same sources must give the same bytes; a link time stamp
  // would differ between them.
  EXPECT_EQ(image->nt().FileHeader.TimeDateStamp, 0u);
}

// DLLs that every Windows 10 installation has in System32 (and that the program may
// use); anything else would fail to start on a bare system. Networking DLLs are not
// on it: the program never talks to a network.
const std::set<std::string>& bareWindowsDlls() {
  static const std::set<std::string> dlls = {
      "advapi32.dll", "bcrypt.dll",       "comctl32.dll", "comdlg32.dll", "gdi32.dll",
      "gdiplus.dll",  "kernel32.dll",     "msvcrt.dll",   "ole32.dll",    "oleaut32.dll",
      "shell32.dll",  "shlwapi.dll",      "user32.dll",   "uxtheme.dll",  "version.dll",
      "windowscodecs.dll", "dwmapi.dll",  "imm32.dll",    "ntdll.dll",    "userenv.dll",
  };
  return dlls;
}

TEST_F(ExecutableHeaders, ImportsOnlySystemDllsOfABareWindows10AndNothingForNetworking) {
  bool complete = false;
  const std::vector<std::string> imported = image->importedDlls(complete);
  ASSERT_TRUE(complete) << "the import table runs off the file";
  ASSERT_FALSE(imported.empty());
  std::vector<std::string> all = imported;
  const std::vector<std::string> delayed = image->delayLoadedDlls();
  all.insert(all.end(), delayed.begin(), delayed.end());

  const std::set<std::string> networking = {"ws2_32.dll",  "wsock32.dll", "mswsock.dll", "wininet.dll",
                                            "winhttp.dll", "urlmon.dll",  "iphlpapi.dll", "dnsapi.dll"};
  std::string list;
  for (const std::string& dll : all) list += dll + " ";
  for (const std::string& dll : all) {
    EXPECT_EQ(networking.count(dll), 0u) << "imports the networking DLL " << dll << " (all: " << list << ")";
    EXPECT_EQ(bareWindowsDlls().count(dll), 1u) << dll << " is not a DLL every Windows 10 has (all: " << list << ")";
  }
  // Statically linked: no compiler runtime DLL.
  for (const std::string& dll : all) {
    EXPECT_EQ(dll.find("libstdc++"), std::string::npos) << dll;
    EXPECT_EQ(dll.find("libgcc"), std::string::npos) << dll;
    EXPECT_EQ(dll.find("libwinpthread"), std::string::npos) << dll;
  }
  // The calls the desk is built on come from where they should.
  for (const char* needed : {"kernel32.dll", "user32.dll", "gdiplus.dll", "comctl32.dll", "bcrypt.dll"}) {
    EXPECT_NE(std::find(all.begin(), all.end(), needed), all.end()) << needed << " (all: " << list << ")";
  }
}

// The resources of the program, mapped as data.
class ExecutableResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryExW(tessaryExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot map " << tessaryExe();
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }
  HMODULE module = nullptr;
};

TEST_F(ExecutableResources, ManifestAsksForPerMonitorDpiAwarenessAndCommonControls6) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST 1
  ASSERT_NE(found, nullptr) << "no application manifest";
  HGLOBAL loaded = LoadResource(module, found);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));

  EXPECT_NE(manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>"),
            std::string::npos);
  EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>"),
            std::string::npos);
  const std::size_t controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
  ASSERT_NE(controls, std::string::npos) << "no common-controls dependency";
  const std::size_t end = manifest.find("/>", controls);
  const std::string identity = manifest.substr(controls, end - controls);
  EXPECT_NE(identity.find("version=\"6.0.0.0\""), std::string::npos) << identity;
  EXPECT_NE(identity.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos) << identity;
  EXPECT_NE(identity.find("processorArchitecture=\"amd64\""), std::string::npos) << identity;
  // The dependency sits inside <dependency><dependentAssembly>, where Windows looks.
  const std::size_t dependency = manifest.rfind("<dependentAssembly>", controls);
  EXPECT_NE(dependency, std::string::npos);
  EXPECT_GT(dependency, manifest.rfind("<dependency>", controls));

  // Its own identity carries the project version.
  EXPECT_NE(manifest.find(std::string("name=\"Tessary\" version=\"") + TESSARY_VERSION_QUAD_STRING + "\""),
            std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
}

TEST_F(ExecutableResources, VersionInformationMatchesTheProjectVersionAndLicence) {
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

  const auto field = [&](const wchar_t* name) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!query(block.data(), path.c_str(), reinterpret_cast<LPVOID*>(&value), &length) || !value) return std::string("<missing>");
    std::string narrow;
    for (const wchar_t* c = value; *c; ++c) narrow += *c < 128 ? static_cast<char>(*c) : '?';
    return narrow;
  };
  EXPECT_EQ(field(L"FileVersion"), TESSARY_VERSION_STRING);
  EXPECT_EQ(field(L"ProductVersion"), TESSARY_VERSION_STRING);
  EXPECT_EQ(field(L"LegalCopyright"), TESSARY_LEGAL_COPYRIGHT);
  EXPECT_NE(field(L"LegalCopyright").find("The Tessary authors"), std::string::npos);
  EXPECT_NE(field(L"LegalCopyright").find("MIT License"), std::string::npos);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(query(block.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD major = TESSARY_VERSION_MAJOR, minor = TESSARY_VERSION_MINOR, patch = TESSARY_VERSION_PATCH;
  EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, (major << 16) | minor);
  EXPECT_EQ(fixed->dwProductVersionLS, patch << 16);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask & (VS_FF_DEBUG | VS_FF_PRERELEASE | VS_FF_PATCHED), 0u);
  FreeLibrary(versionDll);
}

}  // namespace
}  // namespace tessary::testing
