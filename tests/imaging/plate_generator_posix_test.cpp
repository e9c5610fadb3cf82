// The plate generator, run as the build runs it but at a small size: a valid
// 8-bit RGB non-interlaced PNG (every chunk's CRC, one zlib stream whose Adler-32
// checks, one filter byte per row), the same bytes on every run and whatever the
// number of threads, and an honest title.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#ifndef TESSARY_PLATE_GENERATOR
#error "TESSARY_PLATE_GENERATOR must name the generator program"
#endif

extern char** environ;

namespace tessary {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            ("tessary-plate-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::vector<std::uint8_t> readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the generator with the given arguments; returns its exit status.
int runGenerator(const std::vector<std::string>& arguments) {
  std::vector<std::string> all = {TESSARY_PLATE_GENERATOR, "--quiet"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::uint8_t> generate(const fs::path& out, std::uint32_t width, std::uint32_t height, unsigned threads) {
  EXPECT_EQ(runGenerator({"--width", std::to_string(width), "--height", std::to_string(height), "--threads",
                          std::to_string(threads), "--out", out.string()}),
            0);
  EXPECT_FALSE(fs::exists(out.string() + ".part"));
  return readAll(out);
}

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct DecodedPng {
  std::uint32_t width = 0, height = 0;
  std::uint8_t depth = 0, colourType = 0, interlace = 0;
  std::vector<std::uint8_t> rgb;  // unfiltered rows
  std::vector<std::pair<std::string, std::string>> text;
};

int paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

// A strict reader for the one kind of PNG the generator writes.
::testing::AssertionResult decodePng(const std::vector<std::uint8_t>& file, DecodedPng& png) {
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return ::testing::AssertionFailure() << "signature";
  std::vector<std::uint8_t> idat;
  std::size_t at = 8;
  bool ended = false;
  bool first = true;
  while (at + 12 <= file.size() && !ended) {
    const std::uint32_t length = be32(&file[at]);
    if (at + 12 + length > file.size()) return ::testing::AssertionFailure() << "chunk overruns the file";
    const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
    const std::uint8_t* data = &file[at + 8];
    const auto crc = static_cast<std::uint32_t>(crc32(crc32(0L, &file[at + 4], 4), data, length));
    if (crc != be32(data + length)) return ::testing::AssertionFailure() << "CRC of " << type;
    if (first && type != "IHDR") return ::testing::AssertionFailure() << "IHDR is not first";
    first = false;
    if (type == "IHDR") {
      if (length != 13) return ::testing::AssertionFailure() << "IHDR length";
      png.width = be32(data);
      png.height = be32(data + 4);
      png.depth = data[8];
      png.colourType = data[9];
      png.interlace = data[12];
      if (data[10] != 0 || data[11] != 0) return ::testing::AssertionFailure() << "compression or filter method";
    } else if (type == "IDAT") {
      idat.insert(idat.end(), data, data + length);
    } else if (type == "tEXt") {
      const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, length));
      if (nul == nullptr) return ::testing::AssertionFailure() << "tEXt without keyword";
      png.text.emplace_back(std::string(data, nul), std::string(nul + 1, data + length));
    } else if (type == "IEND") {
      ended = true;
    }
    at += 12 + length;
  }
  if (!ended || at != file.size()) return ::testing::AssertionFailure() << "IEND missing or not last";

  const std::size_t rowBytes = static_cast<std::size_t>(png.width) * 3;
  std::vector<std::uint8_t> raw((rowBytes + 1) * png.height + 1);  // one spare byte catches excess data
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return ::testing::AssertionFailure() << "inflateInit";
  z.next_in = idat.data();
  z.avail_in = static_cast<uInt>(idat.size());
  z.next_out = raw.data();
  z.avail_out = static_cast<uInt>(raw.size());
  const int rc = inflate(&z, Z_FINISH);
  const std::size_t produced = raw.size() - z.avail_out;
  const bool allInput = z.avail_in == 0;
  inflateEnd(&z);
  // Z_STREAM_END only comes after the stream's Adler-32 has been checked.
  if (rc != Z_STREAM_END) return ::testing::AssertionFailure() << "inflate gave " << rc;
  if (!allInput) return ::testing::AssertionFailure() << "data after the zlib stream";
  if (produced != raw.size() - 1) return ::testing::AssertionFailure() << "inflated " << produced << " bytes";

  png.rgb.assign(rowBytes * png.height, 0);
  for (std::uint32_t y = 0; y < png.height; ++y) {
    const std::uint8_t filter = raw[(rowBytes + 1) * y];
    if (filter > 4) return ::testing::AssertionFailure() << "filter " << int(filter) << " on row " << y;
    const std::uint8_t* in = &raw[(rowBytes + 1) * y + 1];
    std::uint8_t* row = &png.rgb[rowBytes * y];
    const std::uint8_t* prev = y > 0 ? row - rowBytes : nullptr;
    for (std::size_t i = 0; i < rowBytes; ++i) {
      const int a = i >= 3 ? row[i - 3] : 0;
      const int b = prev ? prev[i] : 0;
      const int c = (prev && i >= 3) ? prev[i - 3] : 0;
      const int predictor = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : paeth(a, b, c);
      row[i] = static_cast<std::uint8_t>(in[i] + predictor);
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(PlateGenerator, WritesAValidRgbPngTitledAsSynthetic) {
  TempFolder folder;
  const fs::path out = folder.path() / "plate.png";
  const std::vector<std::uint8_t> file = generate(out, 1201, 693, 2);
  DecodedPng png;
  ASSERT_TRUE(decodePng(file, png));
  EXPECT_EQ(png.width, 1201u);
  EXPECT_EQ(png.height, 693u);
  EXPECT_EQ(png.depth, 8);
  EXPECT_EQ(png.colourType, 2);  // RGB, no alpha
  EXPECT_EQ(png.interlace, 0);
  bool titled = false;
  for (const auto& [key, value] : png.text) titled = titled || (key == "Title" && value == "Synthetic sky field");
  EXPECT_TRUE(titled);

  // A sky, not a flat or noisy fill: a dark background with bright stars, and many
  // distinct colours.
  std::set<std::uint32_t> colours;
  std::uint64_t sum = 0;
  std::size_t bright = 0;
  for (std::size_t i = 0; i + 2 < png.rgb.size(); i += 3) {
    colours.insert((std::uint32_t{png.rgb[i]} << 16) | (std::uint32_t{png.rgb[i + 1]} << 8) | png.rgb[i + 2]);
    const unsigned luma = png.rgb[i] + png.rgb[i + 1] + png.rgb[i + 2];
    sum += luma;
    bright += luma >= 3 * 200;
  }
  const double meanLevel = static_cast<double>(sum) / (png.rgb.size());
  EXPECT_GT(colours.size(), 20000u);
  EXPECT_GT(meanLevel, 8.0);
  EXPECT_LT(meanLevel, 120.0);
  EXPECT_GT(bright, 10u);  // star cores and lit rims
}

struct ChunkView {
  std::string type;
  const std::uint8_t* data;
  std::uint32_t length;
};

std::vector<ChunkView> chunksOf(const std::vector<std::uint8_t>& file) {
  std::vector<ChunkView> chunks;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint32_t length = be32(&file[at]);
    chunks.push_back({std::string(reinterpret_cast<const char*>(&file[at + 4]), 4), &file[at + 8], length});
    at += 12 + static_cast<std::size_t>(length);
  }
  return chunks;
}

// Inflates one segment's data alone (raw deflate, a fresh window): the bytes it
// gives, and whether it ended the stream.
std::vector<std::uint8_t> inflateAlone(const std::uint8_t* data, std::size_t size, bool& ended) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::vector<std::uint8_t> out;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  int rc = Z_OK;
  do {
    std::uint8_t buffer[1 << 15];
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_SYNC_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
  } while (rc == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
  ended = rc == Z_STREAM_END;
  EXPECT_TRUE(rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR) << rc;
  EXPECT_EQ(z.avail_in, 0u);
  inflateEnd(&z);
  return out;
}

TEST(PlateGenerator, CutsTheImageDataIntoSegmentsThatDecodeAlone) {
  // The "PNG Restart Marker" layout: a mARK chunk (method 0, type 1, the count)
  // right before the first IDAT; one IDAT chunk a segment, each inflating on its own
  // to exactly its rows (height / N each, the first one taller by the remainder),
  // the first row of each later segment filtered with None or Sub.
  struct Case {
    std::uint32_t width, height;
    std::vector<std::string> arguments;
    std::uint32_t segments;
  };
  for (const Case& c : {Case{1201, 693, {}, 64}, Case{640, 20, {"--segments", "8"}, 8}, Case{300, 12, {}, 11},
                        Case{200, 30, {"--segments", "1"}, 1}}) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
    TempFolder folder;
    const fs::path out = folder.path() / "plate.png";
    std::vector<std::string> arguments = {"--width", std::to_string(c.width), "--height", std::to_string(c.height),
                                          "--out", out.string()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ASSERT_EQ(runGenerator(arguments), 0);
    const std::vector<std::uint8_t> file = readAll(out);
    const std::vector<ChunkView> chunks = chunksOf(file);
    std::size_t firstData = 0;
    while (firstData < chunks.size() && chunks[firstData].type != "IDAT") ++firstData;
    ASSERT_GE(firstData, 2u);
    const ChunkView& mark = chunks[firstData - 1];
    ASSERT_EQ(mark.type, "mARK");
    ASSERT_EQ(mark.length, 6u);
    EXPECT_EQ(mark.data[0], 0);  // method 0: equal segments
    EXPECT_EQ(mark.data[1], 1);  // type 1: one IDAT chunk a segment
    EXPECT_EQ(be32(mark.data + 2), c.segments);
    ASSERT_EQ(chunks.size(), firstData + c.segments + 1);
    EXPECT_EQ(chunks.back().type, "IEND");

    const std::size_t rowBytes = static_cast<std::size_t>(c.width) * 3 + 1;
    const std::uint32_t rows = c.height / c.segments;
    for (std::uint32_t k = 0; k < c.segments; ++k) {
      SCOPED_TRACE(::testing::Message() << "segment " << k);
      const ChunkView& data = chunks[firstData + k];
      ASSERT_EQ(data.type, "IDAT");
      const bool last = k + 1 == c.segments;
      const std::size_t skip = k == 0 ? 2 : 0;  // the zlib header
      const std::size_t trailer = last ? 4 : 0;  // the Adler-32
      bool ended = false;
      const std::vector<std::uint8_t> raw = inflateAlone(data.data + skip, data.length - skip - trailer, ended);
      EXPECT_EQ(ended, last);
      ASSERT_EQ(raw.size(), rowBytes * (k == 0 ? rows + c.height % c.segments : rows));
      if (k > 0) EXPECT_LE(raw[0], 1) << "first row's filter";
    }
  }
  // A single row cannot be cut: no mARK chunk, one IDAT.
  TempFolder folder;
  const fs::path out = folder.path() / "row.png";
  ASSERT_EQ(runGenerator({"--width", "50", "--height", "1", "--out", out.string()}), 0);
  const std::vector<ChunkView> chunks = chunksOf(readAll(out));
  int marks = 0, data = 0;
  for (const ChunkView& chunk : chunks) {
    marks += chunk.type == "mARK";
    data += chunk.type == "IDAT";
  }
  EXPECT_EQ(marks, 0);
  EXPECT_EQ(data, 1);
}

TEST(PlateGenerator, SameBytesOnEveryRunAndForAnyNumberOfThreads) {
  TempFolder folder;
  const std::vector<std::uint8_t> first = generate(folder.path() / "a.png", 1201, 693, 2);
  const std::vector<std::uint8_t> second = generate(folder.path() / "b.png", 1201, 693, 2);
  const std::vector<std::uint8_t> serial = generate(folder.path() / "c.png", 1201, 693, 1);
  const std::vector<std::uint8_t> wide = generate(folder.path() / "d.png", 1201, 693, 5);
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(first == second);
  EXPECT_TRUE(first == serial);
  EXPECT_TRUE(first == wide);
  // Another size is another image.
  const std::vector<std::uint8_t> other = generate(folder.path() / "e.png", 640, 360, 2);
  DecodedPng png;
  ASSERT_TRUE(decodePng(other, png));
  EXPECT_EQ(png.width, 640u);
  EXPECT_EQ(png.height, 360u);
}

TEST(PlateGenerator, RefusesBadArgumentsAndLeavesNoFileBehind) {
  TempFolder folder;
  const fs::path out = folder.path() / "plate.png";
  EXPECT_NE(runGenerator({"--width", "0", "--out", out.string()}), 0);
  EXPECT_NE(runGenerator({"--height", "12x", "--out", out.string()}), 0);
  EXPECT_NE(runGenerator({"--colour", "blue"}), 0);
  EXPECT_NE(runGenerator({"--out"}), 0);
  // An output folder that does not exist: the run fails and writes nothing.
  EXPECT_NE(runGenerator({"--width", "64", "--height", "48", "--out", (folder.path() / "missing" / "p.png").string()}), 0);
  EXPECT_TRUE(fs::is_empty(folder.path()));
}

}  // namespace
}  // namespace tessary
