// Reading a module file's resources without loading it does work bounded by
// what the file holds, whatever its program headers say: many note segments
// over the same bytes, or overlapping ones over a run of tiny notes, are read
// at most a fixed number of times over; a sparse file's claimed size and an
// oversized header table are refused as malformed. The work is counted as
// the bytes and read calls the process makes (/proc/self/io), not timed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PackageResources.h"

namespace {

// The process's read counters: bytes and calls.
struct ReadCount {
  std::uint64_t Bytes = 0, Calls = 0;
};

ReadCount ReadsSoFar() {
  std::ifstream io("/proc/self/io");
  ReadCount c;
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") c.Bytes = value;
    if (key == "syscr:") c.Calls = value;
  }
  return c;
}

void Put(std::string& s, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

struct Segment {
  std::uint64_t Offset, Size, Align;
};

// A little-endian ELF64 shared object: the header, one PT_NOTE program header
// per segment, then Tail. A segment with Size 0 reaches to the end.
std::string ElfWithNotes(const std::vector<Segment>& Segments, const std::string& Tail) {
  const std::size_t phoff = 64, tailAt = phoff + 56 * Segments.size();
  std::string f(tailAt, '\0');
  f.replace(0, 4,
            "\x7f"
            "ELF");
  f[4] = 2;  // 64-bit
  f[5] = 1;  // little-endian
  f[6] = 1;
  Put(f, 16, 3, 2);   // ET_DYN
  Put(f, 18, 62, 2);  // x86-64
  Put(f, 20, 1, 4);
  Put(f, 32, phoff, 8);
  Put(f, 52, 64, 2);
  Put(f, 54, 56, 2);
  Put(f, 56, Segments.size(), 2);
  f += Tail;
  for (std::size_t i = 0; i < Segments.size(); ++i) {
    const std::size_t ph = phoff + 56 * i;
    const std::uint64_t size = Segments[i].Size ? Segments[i].Size : f.size() - Segments[i].Offset;
    Put(f, ph, 4, 4);  // PT_NOTE
    Put(f, ph + 8, Segments[i].Offset, 8);
    Put(f, ph + 32, size, 8);  // p_filesz
    Put(f, ph + 40, size, 8);  // p_memsz
    Put(f, ph + 48, Segments[i].Align, 8);
  }
  return f;
}

// The package note holding one RCData resource "X" = "abc".
std::string PackageNote() {
  const std::string container("VRS1\1\0\0\0\12\0\0\0\1\0\0\0\3\0\0\0X\0\0\0abc\0", 28);
  std::string note(12, '\0');
  Put(note, 0, 11, 4);  // "VekPackage" and its NUL
  Put(note, 4, container.size(), 4);
  Put(note, 8, 1, 4);
  note += std::string("VekPackage\0\0", 12);  // padded to 4
  return note + container;
}

std::string WriteTemp(const std::string& Name, const std::string& Contents) {
  const std::string path = testing::TempDir() + Name;
  std::ofstream(path, std::ios::binary) << Contents;
  return path;
}

// Reads the resources of Path, expecting Count of them or (Count < 0) an
// error naming the file; checks that the reads stayed within Factor times
// the file's size and one read call per 6 bytes (a note takes 12 at least:
// one read for its header, one for its name).
void ReadBounded(const std::string& Path, std::size_t FileSize, int Count, std::uint64_t Factor,
                 const std::string& Error = "") {
  const ReadCount before = ReadsSoFar();
  try {
    const TResourceList list = ReadModuleResources(Path);
    EXPECT_EQ(static_cast<int>(list.size()), Count);
  } catch (const EPackageError& e) {
    EXPECT_LT(Count, 0) << e.what();
    EXPECT_NE(std::string(e.what()).find(Path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(Error), std::string::npos) << e.what();
  }
  const ReadCount after = ReadsSoFar();
  EXPECT_LE(after.Bytes - before.Bytes, Factor * FileSize + 4096);
  EXPECT_LE(after.Calls - before.Calls, FileSize / 6 + 64);
}

TEST(ModuleFileBounds, ManyNoteSegmentsOverTheWholeFile) {
  // 65,534 PT_NOTE program headers, each over the whole file (3.7 MB): the
  // file begins with the ELF header, which is not a note.
  const std::vector<Segment> segments(65534, Segment{0, 0, 4});
  const std::string file = ElfWithNotes(segments, "");
  ReadBounded(WriteTemp("vek-many-notes.so", file), file.size(), 0, 2);
}

TEST(ModuleFileBounds, ThePackageNoteAfterManyRepeatedSegments) {
  // Thousands of segments over the same bytes, then one over the package
  // note: still found, the repeated bytes read once.
  const std::size_t n = 4000, noteAt = 64 + 56 * (n + 1);
  std::vector<Segment> segments(n, Segment{0, 0, 4});
  segments.push_back({noteAt, 0, 4});
  const std::string file = ElfWithNotes(segments, PackageNote());
  ReadBounded(WriteTemp("vek-note-last.so", file), file.size(), 1, 2);
}

TEST(ModuleFileBounds, OverlappingSegmentsOverTinyNotes) {
  // 240,000 zero bytes are 20,000 empty notes of 12 bytes; 2,000 segments
  // start 4 bytes apart in them and reach to the end. Walking each would
  // read 2,000 times the file: the reader stops with an error instead.
  const std::size_t n = 2000, notesAt = 64 + 56 * n;
  std::vector<Segment> segments;
  for (std::size_t i = 0; i < n; ++i) segments.push_back({notesAt + 4 * i, 0, 4});
  const std::string file = ElfWithNotes(segments, std::string(240000, '\0'));
  ReadBounded(WriteTemp("vek-overlapping-notes.so", file), file.size(), -1, 4);
}

TEST(ModuleFileBounds, SizesTheFileDoesNotHoldAreMalformed) {
  // Each file holds its first 4 KB and claims more: a sparse file made
  // larger without writing, as its header says it is.
  const std::uint64_t gib = std::uint64_t(1) << 30;
  const auto sparse = [](std::string Head, std::uint64_t Claimed) {
    Head.resize(4096, '\0');
    return std::pair{Head, Claimed};
  };
  std::string wideTable = ElfWithNotes({}, "");
  Put(wideTable, 54, 65535, 2);  // program headers of 65,535 bytes
  Put(wideTable, 56, 16384, 2);  // 16,384 of them: 1 GiB of table
  std::string sparseTable = ElfWithNotes({}, "");
  Put(sparseTable, 56, 65534, 2);  // 3.7 MB of table, past the 4 KB held
  const struct {
    const char* name;
    std::pair<std::string, std::uint64_t> file;
    const char* error;
  } cases[] = {
      {"vek-sparse-note.so", sparse(ElfWithNotes({{4096, gib - 4096, 4}}, ""), gib),
       "is malformed: its note segment lies over a hole"},
      {"vek-wide-table.so", sparse(wideTable, 64 + 65535ull * 16384),
       "is malformed: program headers of 65535 bytes, not 56"},
      {"vek-sparse-table.so", sparse(sparseTable, 64 + 56ull * 65534),
       "is malformed: its program header table lies over a hole"},
  };
  for (const auto& c : cases) {
    const std::string path = WriteTemp(c.name, c.file.first);
    std::filesystem::resize_file(path, c.file.second);
    ReadBounded(path, 4096, -1, 2, c.error);
    std::filesystem::remove(path);
  }
}

TEST(ModuleFileBounds, ARunOfEmptyNotesEndsAtTheCap) {
  // 1.2 MB of zeros held in the file: 100,000 empty notes in one segment.
  const std::string file = ElfWithNotes({{120, 0, 4}}, std::string(1200000, '\0'));
  const std::string path = WriteTemp("vek-empty-notes.so", file);
  const ReadCount before = ReadsSoFar();
  EXPECT_THROW(
      {
        try {
          ReadModuleResources(path);
        } catch (const EPackageError& e) {
          EXPECT_NE(std::string(e.what()).find("is malformed: more than 4096 notes"),
                    std::string::npos)
              << e.what();
          throw;
        }
      },
      EPackageError);
  EXPECT_LE(ReadsSoFar().Calls - before.Calls, 4096u + 64);
}

}  // namespace
