// Opening image files by path: the local absolute path rules, the drive type, the
// read-only sharing, the size window, the whole-file read, and the handle being
// closed whatever the outcome. Real files in a temporary folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tools/test_images/test_image_bytes.h"
#include "imaging/image_file_win.h"
#include "imaging/image_path.h"
#include "imaging/sha256_win.h"
#include "imaging_test_support_win.h"

namespace tessary {
namespace {

using imagetest::imageErrorOf;

std::u16string u16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// A handle closed at scope exit.
struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    folder_ = std::filesystem::path(temp) /
              (L"tessary-image-file-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount64()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Writes the bytes to a file in the folder and returns its absolute path.
  std::u16string write(const std::wstring& name, const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    EXPECT_TRUE(out.good());
    return u16(path.wstring());
  }

  // A file of `size` bytes that begins with `head` and is zero after it, made by
  // moving the end of file (sparse where the file system allows).
  std::u16string writeSized(const std::wstring& name, const std::vector<std::uint8_t>& head,
                            std::uint64_t size) {
    const std::u16string path = write(name, head);
    Handle file(CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_NE(file.h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    EXPECT_TRUE(SetFilePointerEx(file.h, end, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file.h));
    return path;
  }

  std::string openError(const std::u16string& path) {
    return imageErrorOf([&] { openImageFile(path); });
  }

  // True when nobody else holds the file open: it can be opened for exclusive
  // writing.
  static bool openedByNobody(const std::u16string& path) {
    Handle file(CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.h != INVALID_HANDLE_VALUE;
  }

  std::filesystem::path folder_;
};

TEST_F(ImageFileTest, OpensTheSelfTestImagesByAbsolutePath) {
  const auto gradient = testimages::gradientImage();
  const auto bmp = testimages::encodeBmp24(gradient);
  const auto tiff = testimages::encodeTiffRgb({gradient});
  const auto jpeg = testimages::encodeBaselineJpeg(gradient, 90);
  struct Case {
    std::u16string path;
    const std::vector<std::uint8_t>* bytes;
  };
  const Case cases[] = {
      {write(L"gradient.bmp", bmp), &bmp},
      {write(L"gradient.tif", tiff), &tiff},
      {write(L"gradient.jpg", jpeg), &jpeg},
      // The name's extension plays no part: the leading bytes decide.
      {write(L"gradient-bmp.png", bmp), &bmp},
      {write(L"Bild \u00e4\u00f6\u00fc \u6f22\u5b57.bmp", bmp), &bmp},
  };
  for (const Case& c : cases) {
    const auto pixels = openImageFile(c.path);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->width, 16u);
    EXPECT_EQ(pixels->height, 12u);
    EXPECT_EQ(pixels->bgra.size(), 768u);
    EXPECT_EQ(pixels->sha256, sha256Hex(c.bytes->data(), c.bytes->size()));
    const auto p = imagetest::pixelAt(*pixels, 7, 5);
    EXPECT_NEAR(p.b, 180, 11);
    EXPECT_NEAR(p.g, 85, 11);
    EXPECT_NEAR(p.r, 91, 11);
    EXPECT_EQ(p.a, 255);
    EXPECT_TRUE(openedByNobody(c.path));
  }
}

TEST_F(ImageFileTest, SlashesLowerCaseDrivesAndTheQuotedPathBoxTextAreAccepted) {
  const std::u16string path = write(L"gradient.bmp", testimages::encodeBmp24(testimages::gradientImage()));
  std::u16string slashed = path;
  for (auto& c : slashed) {
    if (c == u'\\') c = u'/';
  }
  std::u16string lower = path;
  lower[0] = static_cast<char16_t>(towlower(lower[0]));
  for (const auto& candidate : {slashed, lower, cleanPathBoxText(u"\"" + path + u"\"")}) {
    EXPECT_EQ(openImageFile(candidate)->width, 16u) << std::string(candidate.begin(), candidate.end());
  }
}

TEST_F(ImageFileTest, PathsThatAreNotLocalAndAbsoluteAreRefused) {
  const std::u16string existing =
      write(L"gradient.bmp", testimages::encodeBmp24(testimages::gradientImage()));
  const std::u16string drive = existing.substr(0, 2);           // "C:"
  const std::u16string rest = existing.substr(3);               // after "C:\"
  struct Case {
    std::u16string path;
    const char* error;
  };
  const std::vector<Case> cases = {
      {u"sample.png", "Local absolute path required"},
      {u"gradient.bmp", "Local absolute path required"},
      {drive + rest, "Local absolute path required"},          // drive-relative
      {drive, "Local absolute path required"},
      {u"\\" + rest, "Local absolute path required"},          // rooted on the current drive
      {u" " + existing, "Local absolute path required"},       // a leading blank is not trimmed
      {u"\\\\server\\share\\image.png", "Local absolute path required"},
      {u"//server/share/image.png", "Local absolute path required"},
      {u"\\\\?\\" + existing, "Local absolute path required"},
      {u"\\\\.\\" + existing, "Local absolute path required"},
      {u"\\\\localhost\\" + drive.substr(0, 1) + u"$\\" + rest, "Local absolute path required"},
      {u"//?/" + existing, "Local absolute path required"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(openError(c.path), c.error) << std::string(c.path.begin(), c.path.end());
  }
}

TEST_F(ImageFileTest, DrivesThatAreNotLocalAreRefused) {
  const DWORD drives = GetLogicalDrives();
  char16_t unmapped = 0;
  for (char16_t letter = u'Z'; letter >= u'D'; --letter) {
    if ((drives & (1u << (letter - u'A'))) == 0) {
      unmapped = letter;
      break;
    }
  }
  ASSERT_NE(unmapped, 0) << "every drive letter is in use";
  const std::u16string path = std::u16string(1, unmapped) + u":\\photos\\a.png";
  EXPECT_EQ(GetDriveTypeW(wide(pathRoot(path)).c_str()), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(openError(path), "Local drive required");
  // A mixed pair of separators passes the prefix tests and names a server root,
  // which is no local drive.
  EXPECT_EQ(openError(u"\\/server/share/a.png"), "Local drive required");
  EXPECT_EQ(openError(u"/\\server\\share\\a.png"), "Local drive required");
}

TEST_F(ImageFileTest, MissingFilesAndFoldersCannotBeOpened) {
  EXPECT_EQ(openError(u16((folder_ / L"missing.png").wstring())), "Cannot open file");
  EXPECT_EQ(openError(u16((folder_ / L"no folder" / L"a.png").wstring())), "Cannot open file");
  EXPECT_EQ(openError(u16(folder_.wstring())), "Cannot open file");
}

TEST_F(ImageFileTest, SizeWindowIsTwoBytesTo200MiB) {
  const auto bmp = testimages::encodeBmp24(testimages::gradientImage());
  EXPECT_EQ(openError(write(L"empty.png", {})), "File size limit");
  EXPECT_EQ(openError(write(L"one.bmp", {'B'})), "File size limit");
  // Two bytes pass the size window and reach the decoder.
  EXPECT_EQ(openError(write(L"two.bmp", {'B', 'M'})), "Image operation failed");

  const std::u16string over = writeSized(L"over.bmp", bmp, 209'715'201);
  EXPECT_EQ(openError(over), "File size limit");
  EXPECT_TRUE(openedByNobody(over));

  // Exactly 200 MiB is read whole and decoded: a BMP followed by zero bytes.
  const std::u16string atLimit = writeSized(L"limit.bmp", bmp, 209'715'200);
  std::string error = "no error";
  std::shared_ptr<Pixels> pixels;
  error = imageErrorOf([&] { pixels = openImageFile(atLimit); });
  ASSERT_EQ(error, "no error");
  EXPECT_EQ(pixels->width, 16u);
  EXPECT_EQ(pixels->bgra[(5 * 16 + 7) * 4 + 2], 91);
  // The digest covers the whole file, trailing zeros included.
  std::vector<std::uint8_t> whole(209'715'200, 0);
  std::copy(bmp.begin(), bmp.end(), whole.begin());
  EXPECT_EQ(pixels->sha256, sha256Hex(whole.data(), whole.size()));
}

TEST_F(ImageFileTest, FileOpenForWritingElsewhereIsRefused) {
  const std::u16string path =
      write(L"gradient.bmp", testimages::encodeBmp24(testimages::gradientImage()));
  {
    Handle writer(CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(writer.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openError(path), "Cannot open file");
  }
  {
    // Other readers may keep the file open, as long as they let others read.
    Handle reader(CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(reader.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openError(path), "no error");
  }
  {
    // A reader that refuses other readers keeps the file from being opened.
    Handle exclusive(CreateFileW(wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(exclusive.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openError(path), "Cannot open file");
  }
  EXPECT_EQ(openError(path), "no error");
}

TEST_F(ImageFileTest, TheFileIsClosedAndUnchangedWhateverTheOutcome) {
  const auto bmp = testimages::encodeBmp24(testimages::gradientImage());
  std::vector<std::uint8_t> damaged = bmp;
  damaged.resize(60);  // headers and six bytes of pixels
  const std::u16string good = write(L"good.bmp", bmp);
  const std::u16string text = write(L"text.png", imagetest::bytesOf("not an image"));
  const std::u16string cut = write(L"cut.bmp", damaged);
  EXPECT_EQ(openError(good), "no error");
  EXPECT_EQ(openError(text), "Unsupported image format");
  EXPECT_NE(openError(cut), "no error");
  for (const auto& path : {good, text, cut}) {
    EXPECT_TRUE(openedByNobody(path)) << std::string(path.begin(), path.end());
  }
  std::ifstream in(std::filesystem::path(wide(good)), std::ios::binary);
  const std::vector<std::uint8_t> after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(after, bmp);
}

}  // namespace
}  // namespace tessary
