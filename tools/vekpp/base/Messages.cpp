// The wording of vekpp's system-call failures.
#include "base/Messages.h"

#include "base/Printable.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

std::string FileMessage(const std::string& Path, int Errno) {
  return VekQuoteName(Path) + ": " + std::strerror(Errno);
}

std::string FileProblem(const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) == 0) return std::string();
  return FileMessage(Path, errno);
}

std::string ListenMessage(const std::string& Address, int Port, int Errno) {
  return "cannot listen on " + Address + " port " + std::to_string(Port) + ": " +
         std::strerror(Errno);
}

std::string WithFlags(std::string Message) {
  static const char* const kFlags[][2] = {{"MaxSteps", "--max-steps"},
                                          {"MaxOutput", "--max-output"},
                                          {"MaxDepth", "--max-depth"},
                                          {"MaxIncludes", "--max-includes"}};
  for (const auto& f : kFlags) {
    const std::string option = std::string("(the limit ") + f[0] + ")";
    for (size_t at = Message.find(option); at != std::string::npos;
         at = Message.find(option, at + 1))
      Message.replace(at, option.size(), std::string("(the limit ") + f[1] + ")");
  }
  return Message;
}
