// Byte streams: reading and writing through TStream, and the memory,
// string and file streams.
#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include <sys/stat.h>

AnsiString TStream::ClassName() const {
  return "TStream";
}

std::int64_t TStream::Size() {
  const std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  if (Count < 0 || Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
  if (Count < 0 || Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

AnsiString TStream::ReadToEnd() {
  AnsiString out;
  const std::int64_t pos = Position();
  const std::int64_t size = Size();
  if (size > pos) out.reserve(static_cast<std::size_t>(size - pos));
  char chunk[65536];
  for (;;) {
    const std::int64_t n = Read(chunk, sizeof chunk);
    if (n <= 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  return out;
}

namespace {

// The new position of a seek inside a buffer of Size bytes, or an error.
std::int64_t SeekTarget(std::int64_t Pos, std::int64_t Size, std::int64_t Offset,
                        TSeekOrigin Origin) {
  const std::int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                            : Origin == TSeekOrigin::soCurrent ? Pos
                                                               : Size;
  if ((Offset < 0 && base + Offset < 0) ||
      (Offset > 0 && base > std::numeric_limits<std::int64_t>::max() - Offset))
    throw EStreamError("Stream seek out of range");
  return base + Offset;
}

// Copies up to Count bytes of Data from Pos; returns how many.
template <class Buf>
std::int64_t ReadFrom(const Buf& Data, std::int64_t& Pos, void* Buffer, std::int64_t Count) {
  const auto size = static_cast<std::int64_t>(Data.size());
  if (Count <= 0 || Pos >= size) return 0;
  const std::int64_t n = std::min(Count, size - Pos);
  std::memcpy(Buffer, Data.data() + Pos, static_cast<std::size_t>(n));
  Pos += n;
  return n;
}

// Writes Count bytes into Data at Pos, growing it (and filling a gap left by
// a seek past the end with zeros).
template <class Buf>
std::int64_t WriteTo(Buf& Data, std::int64_t& Pos, const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  const auto end = static_cast<std::size_t>(Pos + Count);
  if (end > Data.size()) Data.resize(end);
  std::memcpy(&Data[static_cast<std::size_t>(Pos)], Buffer, static_cast<std::size_t>(Count));
  Pos += Count;
  return Count;
}

}  // namespace

std::int64_t TMemoryStream::Read(void* Buffer, std::int64_t Count) {
  return ReadFrom(FData, FPos, Buffer, Count);
}
std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  return WriteTo(FData, FPos, Buffer, Count);
}
std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  return FPos = SeekTarget(FPos, Size(), Offset, Origin);
}
void TMemoryStream::Clear() noexcept {
  FData.clear();
  FPos = 0;
}
AnsiString TMemoryStream::ClassName() const {
  return "TMemoryStream";
}

std::int64_t TStringStream::Read(void* Buffer, std::int64_t Count) {
  return ReadFrom(FData, FPos, Buffer, Count);
}
std::int64_t TStringStream::Write(const void* Buffer, std::int64_t Count) {
  return WriteTo(FData, FPos, Buffer, Count);
}
std::int64_t TStringStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  return FPos = SeekTarget(FPos, Size(), Offset, Origin);
}
AnsiString TStringStream::ClassName() const {
  return "TStringStream";
}

TFileStream::TFileStream(const AnsiString& FileName, unsigned Mode) : FFileName(FileName) {
  const char* how = nullptr;
  switch (Mode) {
    case fmOpenRead:
      how = "rb";
      break;
    case fmOpenWrite:
    case fmOpenReadWrite:
      how = "r+b";
      break;
    case fmCreate:
      how = "w+b";
      break;
    default:
      throw EFOpenError("Cannot open file \"" + FileName + "\": unknown open mode " +
                        std::to_string(Mode));
  }
  errno = 0;
  FFile = std::fopen(FileName.c_str(), how);
  if (FFile == nullptr) {
    const int err = errno;
    throw EFOpenError((Mode == fmCreate ? "Cannot create file \"" : "Cannot open file \"") +
                      FileName + "\": " + (err != 0 ? std::strerror(err) : "unknown error"));
  }
  // fopen accepts a directory for reading; refuse it here, not at the first read.
  struct stat st;
  if (fstat(fileno(FFile), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(FFile);
    FFile = nullptr;
    throw EFOpenError("Cannot open file \"" + FileName + "\": " + std::strerror(EISDIR));
  }
}

TFileStream::~TFileStream() {
  if (FFile != nullptr) std::fclose(FFile);
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  if (FLastWasWrite) std::fflush(FFile);
  FLastWasWrite = false;
  const std::size_t n = std::fread(Buffer, 1, static_cast<std::size_t>(Count), FFile);
  if (n == 0 && std::ferror(FFile))
    throw EReadError("Cannot read file \"" + FFileName + "\": " + std::strerror(errno));
  return static_cast<std::int64_t>(n);
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  if (!FLastWasWrite) std::fseek(FFile, 0, SEEK_CUR);
  FLastWasWrite = true;
  return static_cast<std::int64_t>(std::fwrite(Buffer, 1, static_cast<std::size_t>(Count), FFile));
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  const int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : Origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
#if defined(_WIN32)
  const int rc = _fseeki64(FFile, Offset, whence);
  const std::int64_t pos = rc == 0 ? _ftelli64(FFile) : -1;
#else
  const int rc = fseeko(FFile, static_cast<off_t>(Offset), whence);
  const std::int64_t pos = rc == 0 ? static_cast<std::int64_t>(ftello(FFile)) : -1;
#endif
  if (pos < 0) throw EStreamError("Cannot seek in file \"" + FFileName + "\"");
  FLastWasWrite = false;
  return pos;
}

AnsiString TFileStream::ClassName() const {
  return "TFileStream";
}
