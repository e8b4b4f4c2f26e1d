// Writing an archive to a pipe: nothing may be sought back, so every entry's CRC and sizes
// follow its data; an entry from a stream of unknown size gets Zip64 sizes there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <utility>

#include "engine/Errors.h"
#include "engine/ZipEngine.h"
#include "engine/ZipFormat.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

// A pipe whose far end a thread drains into `bytes`, or fills from `data` and then closes.
struct Pipe {
  int fd[2] = {-1, -1};
  std::thread worker;
  std::vector<uint8_t> bytes;
  Pipe() { EXPECT_EQ(::pipe(fd), 0); }
  void drain() {
    worker = std::thread([this] {
      uint8_t buf[4096];
      ssize_t n;
      while ((n = ::read(fd[0], buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    });
  }
  void feed(std::vector<uint8_t> data) {
    const int w = std::exchange(fd[1], -1);
    worker = std::thread([w, data = std::move(data)] {
      for (size_t done = 0; done < data.size();) {
        ssize_t n = ::write(w, data.data() + done, data.size() - done);
        if (n <= 0) break;
        done += size_t(n);
      }
      ::close(w);
    });
  }
  // Closes the writing end, when still ours, and waits for the thread.
  void finish() {
    if (fd[1] >= 0) ::close(std::exchange(fd[1], -1));
    worker.join();
  }
  ~Pipe() {
    if (worker.joinable()) finish();
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
};

}  // namespace

TEST(StreamOutput, APipeAnswersOnlyWhereItIs) {
  Pipe pipe;
  pipe.drain();
  {
    TLFNFileStream out(::dup(pipe.fd[1]), "the pipe");
    std::vector<uint8_t> data(20000, 'x');
    out.Write(data.data(), data.size());
    EXPECT_EQ(out.Position(), 20000);
    EXPECT_EQ(out.Seek(20000, soFromBeginning), 20000);
    EXPECT_THROW(out.Seek(0, soFromBeginning), EStreamError);
    out.Close();
  }
  pipe.finish();
  EXPECT_EQ(pipe.bytes.size(), 20000u);
}

TEST(StreamOutput, EntriesCarryDataDescriptorsAndReadBack) {
  TempDir dir;
  // Text beyond what is held back before the method is certain, a small random file the
  // encoder keeps stored, and standard input of unknown size.
  const auto text = textBytes(400000, 1), noise = randomBytes(3000, 2),
             input = textBytes(300000, 3);
  writeFile(dir / "text.txt", text);
  writeFile(dir / "noise.bin", noise);
  Pipe out, in;
  out.drain();
  in.feed(input);
  {
    TZipEngine engine;
    engine.TempPath = dir.path();
    engine.SetZipName(dir / "never-written.zip");
    engine.FilesList = {dir / "text.txt", dir / "noise.bin"};
    engine.StreamOutput = out.fd[1];
    engine.StreamedSource = in.fd[0];
    engine.StreamedName = "from/stdin.txt";
    EXPECT_EQ(engine.CompressFiles(), 3);
  }
  out.finish();
  in.finish();
  EXPECT_FALSE(fileExists(dir / "never-written.zip"));
  writeFile(dir / "streamed.zip", out.bytes);

  TUnZipEngine reader;
  reader.SetZipName(dir / "streamed.zip");
  reader.LoadCatalogue();
  ASSERT_EQ(reader.Count(), 3);
  struct Expect {
    uint16_t method;
    bool zip64Local;
  };
  const Expect expected[] = {
      {kMethodDeflated, false}, {kMethodStored, false}, {kMethodDeflated, true}};
  for (int i = 0; i < 3; ++i) {
    const TZipHeaderInfo& e = reader.Entry(i);
    SCOPED_TRACE(e.FullName());
    EXPECT_TRUE(e.HasDataDescriptor());
    EXPECT_EQ(e.CompressionMethod, expected[i].method);
    // The local header says nothing of CRC and sizes; its Zip64 field, when there, holds 0s.
    const uint8_t* h = out.bytes.data() + e.RelativeOffset;
    EXPECT_EQ(load32(h + local::kCrc), 0u);
    EXPECT_EQ(load16(h + local::kMethod), expected[i].method);
    EXPECT_EQ(load32(h + local::kCompressedSize), expected[i].zip64Local ? kZip64Marker32 : 0u);
    const size_t end = e.RelativeOffset + kLocalHeaderSize + load16(h + local::kNameLength) +
                       load16(h + local::kExtraLength) + e.CompressedSize;
    EXPECT_EQ(load32(&out.bytes[end]), kDataDescriptorSig);
    EXPECT_EQ(load32(&out.bytes[end + 4]), e.CRC32);
    if (expected[i].zip64Local) {
      EXPECT_EQ(load64(&out.bytes[end + 8]), e.CompressedSize);
      EXPECT_EQ(load64(&out.bytes[end + 16]), e.UncompressedSize);
    } else {
      EXPECT_EQ(load32(&out.bytes[end + 8]), e.CompressedSize);
      EXPECT_EQ(load32(&out.bytes[end + 12]), e.UncompressedSize);
    }
  }
  reader.SetDestDir(dir / "out");
  reader.DoAll = true;
  reader.RecreateDirs = true;
  reader.OverwriteMode = Always;
  EXPECT_EQ(reader.ExtractEntries(), 3);
  EXPECT_EQ(readFile(dir / "out/text.txt"), text);
  EXPECT_EQ(readFile(dir / "out/noise.bin"), noise);
  EXPECT_EQ(readFile(dir / "out/from/stdin.txt"), input);
}
