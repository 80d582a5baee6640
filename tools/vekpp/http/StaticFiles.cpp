// VekFileReply: a static file as an HTTP answer.
#include "http/StaticFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "http/MimeTypes.h"
#include "http/Ranges.h"
#include "http/Validators.h"

int VekFileReply(const std::filesystem::path& Path, const std::string& Name,
                 const THttpRequest& Request, THttpReply& Reply) {
  // The path has its links resolved already: one that appears now is not
  // followed.
  const int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 404;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return 404;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  char tag[80];
  std::snprintf(tag, sizeof tag, "\"f%llx-%llx-%llx\"", static_cast<unsigned long long>(st.st_ino),
                static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(st.st_mtim.tv_nsec));
  const std::string etag = tag;
  Reply.AddHeader("ETag", etag);
  Reply.AddHeader("Last-Modified", VekHttpDate(st.st_mtime));
  Reply.AddHeader("Cache-Control", "no-cache");
  if (VekNotModified(Request, etag, st.st_mtime)) {
    close(fd);
    Reply.Status = 304;
    return 0;
  }
  const char* type = VekContentType(Name);
  Reply.AddHeader("Accept-Ranges", "bytes");
  std::vector<TByteRange> ranges;
  TRangeAnswer answer = TRangeAnswer::Whole;
  const std::string* range = Request.Header("Range");
  const std::string* ifRange = Request.Header("If-Range");
  if (range && (!ifRange || *ifRange == etag))
    answer = VekParseRanges(*range, size, kVekMaxRanges, ranges);
  if (answer == TRangeAnswer::Unsatisfiable) {
    close(fd);
    Reply.AddHeader("Content-Range", "bytes */" + std::to_string(size));
    return 416;
  }
  Reply.Fd = fd;
  Reply.FileSize = size;
  Reply.PartType = type;
  if (answer == TRangeAnswer::Whole) {
    Reply.Status = 200;
    Reply.Parts.push_back({0, size});
    Reply.AddHeader("Content-Type", type);
    return 0;
  }
  Reply.Status = 206;
  for (const auto& r : ranges) Reply.Parts.push_back({r.Offset, r.Length});
  if (ranges.size() == 1) {
    Reply.AddHeader("Content-Type", type);
    Reply.AddHeader("Content-Range", "bytes " + std::to_string(ranges[0].Offset) + "-" +
                                         std::to_string(ranges[0].Offset + ranges[0].Length - 1) +
                                         "/" + std::to_string(size));
  }
  return 0;
}
