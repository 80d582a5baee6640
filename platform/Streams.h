// Byte streams: the abstract TStream with memory, string and file streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "AnsiString.h"
#include "Component.h"
#include "Export.h"

/// Raised by streams: a short read or write, a bad seek.
class VCL50_API EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
/// A file could not be opened or created; the message names the file and why.
class VCL50_API EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class VCL50_API EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class VCL50_API EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

/// A sequence of bytes with a current position.
class VCL50_API TStream : public TObject {
 public:
  /// Reads up to Count bytes at the position into Buffer and moves the
  /// position past them; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  /// Writes Count bytes at the position; returns how many were written.
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  /// Moves the position; returns the new one. Throws EStreamError when the
  /// result would be negative.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t Pos) { Seek(Pos, TSeekOrigin::soBeginning); }
  /// Total number of bytes; the position is left where it was.
  virtual std::int64_t Size();

  /// Read and Write that throw EReadError / EWriteError on a short transfer.
  void ReadBuffer(void* Buffer, std::int64_t Count);
  void WriteBuffer(const void* Buffer, std::int64_t Count);
  /// Everything from the position to the end, as one string.
  AnsiString ReadToEnd();
  AnsiString ClassName() const override;
};

/// A stream held in memory; it grows as it is written.
class VCL50_API TMemoryStream : public TStream {
 public:
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
  void Clear() noexcept;
  const char* Memory() const noexcept { return FData.data(); }
  AnsiString ClassName() const override;

 protected:
  std::vector<char> FData;
  std::int64_t FPos = 0;
};

/// A stream over a string; DataString() is everything written so far.
class VCL50_API TStringStream : public TStream {
 public:
  explicit TStringStream(AnsiString Data = AnsiString()) : FData(std::move(Data)) {}
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
  const AnsiString& DataString() const noexcept { return FData; }
  AnsiString ClassName() const override;

 private:
  AnsiString FData;
  std::int64_t FPos = 0;
};

/// File open modes of TFileStream.
enum TFileMode : unsigned {
  fmOpenRead = 0,       ///< existing file, read only
  fmOpenWrite = 1,      ///< existing file, write only
  fmOpenReadWrite = 2,  ///< existing file, read and write
  fmCreate = 0xFF00,    ///< create or truncate, read and write
};

/// A stream over a file. The constructor throws EFOpenError, naming the file
/// and the reason, when the file cannot be opened or created.
class VCL50_API TFileStream : public TStream {
 public:
  TFileStream(const AnsiString& FileName, unsigned Mode);
  ~TFileStream() override;
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  const AnsiString& FileName() const noexcept { return FFileName; }
  AnsiString ClassName() const override;

 private:
  std::FILE* FFile = nullptr;
  AnsiString FFileName;
  bool FLastWasWrite = false;  // stdio needs a seek between writing and reading
};
