// The folder a build writes into: files written under a temporary name and
// renamed into place, and no symbolic link below the folder ever followed.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

class TOutputFolder {
 public:
  /// Opens Dir (made when missing; a link naming Dir itself is followed,
  /// as the user gave it). Throws std::runtime_error when it cannot be.
  explicit TOutputFolder(const std::filesystem::path& Dir);
  ~TOutputFolder();
  TOutputFolder(const TOutputFolder&) = delete;
  TOutputFolder& operator=(const TOutputFolder&) = delete;

  /// Writes Bytes as the file Name (relative, "/" separators), making its
  /// folders. Throws std::runtime_error saying why when a folder on the way
  /// is a link or not a folder, or the file cannot be written; a reader
  /// never sees half a file, and nothing is written outside the folder.
  /// Safe from several threads.
  void Write(const std::string& Name, const std::string& Bytes) const;
  /// The same with the bytes Fill hands, a piece at a time, to the
  /// function it is given: a large file is never held whole. What Fill
  /// throws is thrown, and nothing is left in Name's place then.
  void WriteWith(
      const std::string& Name,
      const std::function<void(const std::function<void(const char*, size_t)>&)>& Fill) const;
  /// True when Name is a regular file of the folder (itself not a link).
  /// Safe from several threads.
  bool Exists(const std::string& Name) const;
  /// The same with the contents of the regular file Source (its permission
  /// bits kept), read through a descriptor that does not follow a link.
  void Copy(const std::string& Name, const std::filesystem::path& Source) const;

 private:
  // The folder of Name opened below the root; Leaf set to its last part.
  int OpenParent(const std::string& Name, std::string& Leaf) const;
  // Fills a new temporary file beside Leaf in Dir by Fill(fd), then renames
  // it to Leaf.
  template <typename TFill>
  void Replace(int Dir, const std::string& Name, const std::string& Leaf, TFill Fill) const;

  int FDir = -1;
};
