// The release's THIRD-PARTY-NOTICES.txt against what the linker really put into
// Tessary.exe: every archive member and object file that the link map names comes
// from the project itself, is an import stub of a system DLL, or belongs to a
// library whose notice the file carries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/desk_process_win.h"

namespace tessary::testing {
namespace {

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The heading of each library's notice, by the file names the linker reads.
const std::map<std::string, std::string>& noticeOf() {
  static const std::map<std::string, std::string> table = {
      {"libstdc++.a", "GCC RUNTIME LIBRARIES (libgcc, libstdc++)"},
      {"libsupc++.a", "GCC RUNTIME LIBRARIES (libgcc, libstdc++)"},
      {"libgcc.a", "GCC RUNTIME LIBRARIES (libgcc, libstdc++)"},
      {"libgcc_eh.a", "GCC RUNTIME LIBRARIES (libgcc, libstdc++)"},
      {"crtbegin.o", "GCC RUNTIME LIBRARIES (libgcc, libstdc++)"},
      {"crtend.o", "GCC RUNTIME LIBRARIES (libgcc, libstdc++)"},
      {"crt2.o", "MINGW-W64 RUNTIME"},
      {"crt2u.o", "MINGW-W64 RUNTIME"},
      {"libpthread.a", "WINPTHREADS"},
      {"libwinpthread.a", "WINPTHREADS"},
      {"libz.a", "ZLIB"},
  };
  return table;
}

struct LinkedFile {
  std::string path;    // as the map writes it
  std::string member;  // empty for an object file read whole
};

// The archive members pulled in ("Archive member included ...") and the object
// files loaded whole ("LOAD ...") of a GNU ld map.
std::vector<LinkedFile> linkedFiles(const std::string& map) {
  std::vector<LinkedFile> files;
  std::istringstream lines(map);
  std::string line;
  bool members = false;
  const std::regex member(R"(^(\S+\.a)\(([^)]+)\)\s*$)");
  const std::regex load(R"(^LOAD (\S+\.(o|obj|res))\s*$)");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Archive member included", 0) == 0) {
      members = true;
      continue;
    }
    if (members && (line.rfind("Discarded input sections", 0) == 0 || line.rfind("Memory Configuration", 0) == 0 ||
                    line.rfind("Allocating common symbols", 0) == 0)) {
      members = false;
    }
    if (members && std::regex_match(line, match, member)) files.push_back({match[1], match[2]});
    if (std::regex_match(line, match, load)) files.push_back({match[1], ""});
  }
  return files;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// An import library's stub for one function of a system DLL, as dlltool names its
// members: <stem>s<number>.o with the head and tail <stem>h.o and <stem>t.o, where
// the stem is the archive's name or, in libmsvcrt.a, that name and "_def".
bool importStub(const LinkedFile& file) {
  const std::string name = fileName(file.path);
  if (file.member.empty() || name.size() < 3 || name.substr(name.size() - 2) != ".a") return false;
  const std::string stem = name.substr(0, name.size() - 2);
  if (file.member.compare(0, stem.size(), stem) != 0) return false;
  static const std::regex rest(R"(^(_def)?(s[0-9]+|h|t)\.o$)");
  return std::regex_match(file.member.substr(stem.size()), rest);
}

// Code of the mingw-w64 runtime in any of its libraries (the start-up code, helpers
// and GUIDs kept beside some import libraries): its build names each object
// lib64_<library>_a-<source>.o.
bool mingwRuntimeMember(const LinkedFile& file) {
  static const std::regex runtime(R"(^lib64_[A-Za-z0-9_]+_a-[^/]+\.o$)");
  return std::regex_match(file.member, runtime);
}

// The project's own objects and libraries, which the map names relative to the
// build folder.
bool projectFile(const LinkedFile& file) { return !file.path.empty() && file.path.front() != '/'; }

bool hasLine(const std::string& text, const std::string& wanted) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == wanted) return true;
  }
  return false;
}

TEST(ExecutableNotices, NameEveryLibraryTheLinkMapPullsIn) {
  const std::filesystem::path bin = tessaryExe().parent_path();
  const std::string map = readText(bin / "Tessary.map");
  ASSERT_FALSE(map.empty()) << "no link map beside " << tessaryExe();
  const std::string notices = readText(bin.parent_path() / "release-files" / "THIRD-PARTY-NOTICES.txt");
  ASSERT_FALSE(notices.empty()) << "build the release_files target first";

  const std::vector<LinkedFile> files = linkedFiles(map);
  std::set<std::string> needed;
  std::set<std::string> unknown;
  int stubs = 0;
  for (const LinkedFile& file : files) {
    if (projectFile(file)) continue;
    if (importStub(file)) {
      ++stubs;
      continue;
    }
    if (mingwRuntimeMember(file)) {
      needed.insert("MINGW-W64 RUNTIME");
      continue;
    }
    const auto found = noticeOf().find(fileName(file.path));
    if (found == noticeOf().end()) {
      unknown.insert(file.path + (file.member.empty() ? "" : "(" + file.member + ")"));
    } else {
      needed.insert(found->second);
    }
  }
  // The map was read: the C++ runtime and the system DLLs' stubs are always there.
  EXPECT_GT(stubs, 50);
  EXPECT_TRUE(needed.count("GCC RUNTIME LIBRARIES (libgcc, libstdc++)")) << "the map was not read";
  for (const std::string& file : unknown) {
    ADD_FAILURE() << file << " is linked into Tessary.exe, but no notice is known for it: add its licence to "
                  << "THIRD-PARTY-NOTICES.txt (resources/release) and its file to this test's table";
  }
  for (const std::string& heading : needed) {
    EXPECT_TRUE(hasLine(notices, heading)) << "THIRD-PARTY-NOTICES.txt has no notice \"" << heading << "\"";
  }
  // Compiled in from its headers, which no link map shows.
  EXPECT_NE(notices.find("JSON for Modern C++"), std::string::npos);
  EXPECT_NE(notices.find("Permission is hereby granted, free of charge"), std::string::npos);
}

}  // namespace
}  // namespace tessary::testing
