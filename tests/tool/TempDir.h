// A fresh temporary directory for a test, removed with everything in it when
// the object goes, also when an assertion ends the test early.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

class TTempDir {
 public:
  /// Makes /tmp/<Prefix>XXXXXX; throws std::runtime_error when it cannot.
  explicit TTempDir(const std::string& Prefix) {
    std::string tmpl = "/tmp/" + Prefix + "XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a directory " + tmpl);
    FPath = tmpl;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};
