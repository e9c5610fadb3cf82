// The layout of Tessary.exe on disk, read from the built file's headers: its
// sections sit in the file at the same alignment as in memory, so the loader can
// map them from the file (the built-in plate's pages then stay backed by the file
// and can be dropped) instead of reading the whole program into private memory.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/plate_identity.h"
#include "support/desk_process_win.h"

namespace tessary::testing {
namespace {

std::vector<char> fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

template <typename T>
bool readAt(const std::vector<char>& bytes, std::size_t offset, T& out) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, bytes.data() + offset, sizeof(T));
  return true;
}

TEST(ExecutableLayout, SectionsAreAlignedInTheFileAsInMemory) {
  ASSERT_TRUE(std::filesystem::exists(tessaryExe())) << "build the Tessary target first: " << tessaryExe();
  const std::vector<char> exe = fileBytes(tessaryExe());

  IMAGE_DOS_HEADER dos{};
  ASSERT_TRUE(readAt(exe, 0, dos));
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  const std::size_t ntAt = static_cast<std::size_t>(dos.e_lfanew);
  IMAGE_NT_HEADERS64 nt{};
  ASSERT_TRUE(readAt(exe, ntAt, nt));
  ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  ASSERT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);

  EXPECT_EQ(nt.OptionalHeader.SectionAlignment, 4096u);
  EXPECT_EQ(nt.OptionalHeader.FileAlignment, 4096u);
  EXPECT_EQ(nt.OptionalHeader.SizeOfHeaders % 4096, 0u);

  // Every section's data starts at a page boundary of the file, at the same offset
  // within its page as in memory; the resource section, which holds the plate, is
  // among them and is at least as large as the plate.
  const std::size_t sectionsAt =
      ntAt + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  ASSERT_GT(nt.FileHeader.NumberOfSections, 0);
  bool resourcesSeen = false;
  for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section{};
    ASSERT_TRUE(readAt(exe, sectionsAt + i * sizeof(IMAGE_SECTION_HEADER), section));
    const std::string name(reinterpret_cast<const char*>(section.Name),
                           strnlen(reinterpret_cast<const char*>(section.Name), IMAGE_SIZEOF_SHORT_NAME));
    SCOPED_TRACE(name);
    EXPECT_EQ(section.VirtualAddress % 4096, 0u);
    if (section.SizeOfRawData != 0) {
      EXPECT_EQ(section.PointerToRawData % 4096, 0u);
      EXPECT_LE(std::uint64_t{section.PointerToRawData} + section.SizeOfRawData, exe.size());
    }
    if (name == ".rsrc") {
      resourcesSeen = true;
      EXPECT_GE(section.SizeOfRawData, kPlateSize);
    }
  }
  EXPECT_TRUE(resourcesSeen);
}

}  // namespace
}  // namespace tessary::testing
