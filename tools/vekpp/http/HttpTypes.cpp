// THttpRequest's header look-up, THttpReply's ownership of its file, and
// THttpFixedReply's form made by the HTTP core.
#include "http/HttpTypes.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace {

bool SameName(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) ==
                  std::tolower(static_cast<unsigned char>(Y));
         });
}

}  // namespace

const std::string* THttpRequest::Header(const std::string& Name) const {
  for (const auto& h : Headers) {
    if (SameName(h.first, Name)) return &h.second;
  }
  return nullptr;
}

THttpReply::THttpReply(THttpReply&& Other) noexcept {
  *this = std::move(Other);
}

THttpReply& THttpReply::operator=(THttpReply&& Other) noexcept {
  if (this != &Other) {
    if (Fd >= 0) close(Fd);
    Status = Other.Status;
    Headers = std::move(Other.Headers);
    Body = std::move(Other.Body);
    Fixed = std::move(Other.Fixed);
    Fd = Other.Fd;
    Other.Fd = -1;
    FileSize = Other.FileSize;
    Parts = std::move(Other.Parts);
    PartType = std::move(Other.PartType);
    Events = std::move(Other.Events);
  }
  return *this;
}

THttpReply::~THttpReply() {
  if (Fd >= 0) close(Fd);
}

uint64_t THttpReply::BodySize() const {
  if (Fixed) return Fixed->Body ? Fixed->Body->size() : 0;
  if (Fd < 0) return Body.size();
  uint64_t n = 0;
  for (const auto& p : Parts) n += p.Length;
  return n;
}

THttpFixedReply::THttpFixedReply(int Status, THeaders Headers,
                                 std::shared_ptr<const std::string> Body)
    : Status(Status), Headers(std::move(Headers)), Body(std::move(Body)) {}

THttpFixedReply::~THttpFixedReply() {
  if (void* native = FNative.load(std::memory_order_acquire)) FFree.load()(native);
}

void* THttpFixedReply::Native(void* (*Make)(const THttpFixedReply&), void (*Free)(void*)) const {
  void* native = FNative.load(std::memory_order_acquire);
  if (native) return native;
  native = Make(*this);
  if (!native) return nullptr;
  // Two threads may make it at once: the first one stored is kept.
  void* expected = nullptr;
  FFree.store(Free);
  if (FNative.compare_exchange_strong(expected, native, std::memory_order_acq_rel)) return native;
  Free(native);
  return expected;
}
