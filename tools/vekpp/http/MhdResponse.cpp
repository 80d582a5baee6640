// VekMhdResponse: each kind of answer as a libmicrohttpd response, with the
// callbacks that read multipart ranges and event streams and free bodies.
#include "http/MhdResponse.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kBoundary[] = "vekpp-part-boundary-7e4b1c";

// The pieces of a multipart/byteranges body: text, or bytes of the file.
struct TMultipart {
  struct TPiece {
    std::string Text;
    uint64_t Offset = 0, Length = 0;  // of the file, when Text is empty
    uint64_t Size() const { return Text.empty() ? Length : Text.size(); }
  };
  int Fd = -1;
  std::vector<TPiece> Pieces;
  size_t Index = 0;  // the piece that holds Done
  uint64_t Done = 0, IndexStart = 0;
  ~TMultipart() {
    if (Fd >= 0) close(Fd);
  }
};

ssize_t ReadMultipart(void* Cls, uint64_t Pos, char* Buf, size_t Max) {
  auto* m = static_cast<TMultipart*>(Cls);
  // The position only moves forward, by what was returned.
  while (m->Index < m->Pieces.size() && Pos >= m->IndexStart + m->Pieces[m->Index].Size()) {
    m->IndexStart += m->Pieces[m->Index].Size();
    ++m->Index;
  }
  if (m->Index >= m->Pieces.size()) return MHD_CONTENT_READER_END_OF_STREAM;
  const TMultipart::TPiece& p = m->Pieces[m->Index];
  const uint64_t within = Pos - m->IndexStart;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(Max, p.Size() - within));
  if (!p.Text.empty()) {
    std::memcpy(Buf, p.Text.data() + within, n);
    return static_cast<ssize_t>(n);
  }
  const ssize_t got = pread(m->Fd, Buf, n, static_cast<off_t>(p.Offset + within));
  return got > 0 ? got : MHD_CONTENT_READER_END_WITH_ERROR;
}

void FreeMultipart(void* Cls) {
  delete static_cast<TMultipart*>(Cls);
}

// A connection following an event stream.
struct TFollower {
  std::shared_ptr<TEventStream> Stream;
  std::shared_ptr<TEventStream::TSubscriber> Subscriber;
  MHD_Connection* Connection = nullptr;
};

ssize_t ReadEvents(void* Cls, uint64_t, char* Buf, size_t Max) {
  auto* f = static_cast<TFollower*>(Cls);
  const long n =
      f->Stream->Take(*f->Subscriber, Buf, Max, [f] { MHD_suspend_connection(f->Connection); });
  return n < 0 ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(n);
}

void FreeEvents(void* Cls) {
  auto* f = static_cast<TFollower*>(Cls);
  f->Stream->Unsubscribe(f->Subscriber);
  delete f;
}

void FreeString(void* Cls) {
  delete static_cast<std::string*>(Cls);
}

void FreeShared(void* Cls) {
  delete static_cast<std::shared_ptr<const std::string>*>(Cls);
}

// The parts of a file as one multipart/byteranges body.
MHD_Response* MultipartResponse(THttpReply& Reply, uint64_t& Sent) {
  auto* m = new TMultipart;
  const std::string boundary = kBoundary;
  for (const auto& p : Reply.Parts) {
    m->Pieces.push_back({"\r\n--" + boundary + "\r\nContent-Type: " + Reply.PartType +
                             "\r\nContent-Range: bytes " + std::to_string(p.Offset) + "-" +
                             std::to_string(p.Offset + p.Length - 1) + "/" +
                             std::to_string(Reply.FileSize) + "\r\n\r\n",
                         0, 0});
    if (p.Length) m->Pieces.push_back({"", p.Offset, p.Length});
  }
  m->Pieces.push_back({"\r\n--" + boundary + "--\r\n", 0, 0});
  uint64_t total = 0;
  for (const auto& p : m->Pieces) total += p.Size();
  m->Fd = Reply.Fd;
  Reply.Fd = -1;
  Sent = total;
  MHD_Response* response =
      MHD_create_response_from_callback(total, 64 * 1024, ReadMultipart, m, FreeMultipart);
  if (!response) delete m;
  Reply.AddHeader("Content-Type", "multipart/byteranges; boundary=" + boundary);
  return response;
}

// A fixed reply's response: its body is held by the response (a
// connection may still send it when the reply is freed).
void* MakeFixed(const THttpFixedReply& Reply) {
  MHD_Response* response = nullptr;
  if (Reply.Body) {
    auto* body = new std::shared_ptr<const std::string>(Reply.Body);
    response = MHD_create_response_from_buffer_with_free_callback_cls(
        (*body)->size(), const_cast<char*>((*body)->data()), FreeShared, body);
    if (!response) delete body;
  } else {
    response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  }
  if (!response) return nullptr;
  for (const auto& h : Reply.Headers) {
    if (MHD_add_response_header(response, h.first.c_str(), h.second.c_str()) != MHD_YES) {
      MHD_destroy_response(response);
      return nullptr;
    }
  }
  return response;
}

// Frees the reply's hold on it: connections still sending it hold theirs.
void FreeFixed(void* Response) {
  MHD_destroy_response(static_cast<MHD_Response*>(Response));
}

}  // namespace

MHD_Response* VekMhdFixedResponse(const THttpFixedReply& Reply) {
  return static_cast<MHD_Response*>(Reply.Native(MakeFixed, FreeFixed));
}

MHD_Response* VekMhdResponse(MHD_Connection* Connection, const std::string& Client,
                             THttpReply& Reply, uint64_t& Sent) {
  MHD_Response* response = nullptr;
  Sent = Reply.BodySize();
  if (Reply.Events) {
    auto* f = new TFollower;
    f->Stream = Reply.Events;
    f->Connection = Connection;
    f->Subscriber = Reply.Events->Subscribe([Connection] { MHD_resume_connection(Connection); },
                                            "retry: 1000\n\n", Client);
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 1024, ReadEvents, f, FreeEvents);
    if (!response) FreeEvents(f);
  } else if (Reply.Fd >= 0 && Reply.Parts.size() == 1) {
    response = MHD_create_response_from_fd_at_offset64(Reply.Parts[0].Length, Reply.Fd,
                                                       Reply.Parts[0].Offset);
    if (response) Reply.Fd = -1;  // the response closes it
  } else if (Reply.Fd >= 0) {
    response = MultipartResponse(Reply, Sent);
  } else {
    // The page moves into the response: sent as built, never copied.
    auto* body = new std::string(std::move(Reply.Body));
    response = MHD_create_response_from_buffer_with_free_callback_cls(body->size(), body->data(),
                                                                      FreeString, body);
    if (!response) delete body;
  }
  if (!response) return nullptr;
  for (const auto& h : Reply.Headers) {
    MHD_add_response_header(response, h.first.c_str(), h.second.c_str());
  }
  return response;
}
