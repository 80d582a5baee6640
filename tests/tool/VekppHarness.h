// What the vekpp tests share: running the built vekpp, a server of it on a
// free loopback port, and raw HTTP requests sent byte for byte.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"

extern char** environ;

namespace vekpp_test {

namespace fs = std::filesystem;

inline const fs::path kFixtures = VEK_TOOL_FIXTURES;

inline std::string ReadFile(const fs::path& P) {
  std::ifstream in(P, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh temporary directory, removed at the end (TTempDir, by the name
// the tests use).
struct TempDir {
  TTempDir made{"vekpp-test-"};
  fs::path path = made.Path();
};

// Starts vekpp with Args in Dir; its standard output and error go to the
// given descriptors (-1 for /dev/null), its standard input reads StdinFile.
inline pid_t Spawn(const std::vector<std::string>& Args, const fs::path& Dir, int OutFd, int ErrFd,
                   const std::string& StdinFile = "/dev/null") {
  std::vector<std::string> all{VEKPP_BIN};
  all.insert(all.end(), Args.begin(), Args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, StdinFile.c_str(), O_RDONLY, 0);
  if (OutFd >= 0) posix_spawn_file_actions_adddup2(&actions, OutFd, 1);
  if (ErrFd >= 0) posix_spawn_file_actions_adddup2(&actions, ErrFd, 2);
  posix_spawn_file_actions_addchdir_np(&actions, Dir.c_str());
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The exit status of Pid, or 128 + the signal that ended it. A process still
// running after TimeoutSeconds is killed (and then ends by SIGKILL).
inline int Wait(pid_t Pid, int TimeoutSeconds = 60) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  for (;;) {
    const pid_t done = waitpid(Pid, &status, WNOHANG);
    if (done == Pid) break;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) kill(Pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Result {
  int status;
  std::string out, err;
};

// Runs vekpp to its end in Dir (the fixtures by default), with Input as its
// standard input.
inline Result RunVekpp(const std::vector<std::string>& Args, const fs::path& Dir = kFixtures,
                       const std::string& Input = "") {
  TempDir tmp;
  const fs::path out = tmp.path / "out", err = tmp.path / "err", in = tmp.path / "in";
  std::ofstream(in, std::ios::binary) << Input;
  const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = Spawn(Args, Dir, o, e, in.string());
  close(o);
  close(e);
  if (pid < 0) return {-1, "", "cannot start vekpp"};
  const int status = Wait(pid, 20);
  return {status, ReadFile(out), ReadFile(err)};
}

// vekpp serve on a copy of the fixture site, on a free loopback port.
class Server {
 public:
  explicit Server(const fs::path& Site, std::vector<std::string> Extra = {}) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> args{"serve", Site.string(), "--port", "0", "--threads", "4"};
    if (std::find(Extra.begin(), Extra.end(), "--live-reload") == Extra.end() &&
        std::find(Extra.begin(), Extra.end(), "--no-live-reload") == Extra.end())
      args.push_back("--no-live-reload");
    args.insert(args.end(), Extra.begin(), Extra.end());
    pid_ = Spawn(args, kFixtures, -1, fds[1]);
    close(fds[1]);
    errFd_ = fds[0];
    reader_ = std::thread([this] {
      char buf[4096];
      ssize_t n;
      while ((n = read(errFd_, buf, sizeof buf)) > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.append(buf, static_cast<size_t>(n));
      }
    });
    // The first line names the address and the port that was picked.
    const std::regex serving("serving .* on http://127\\.0\\.0\\.1:([0-9]+)/");
    for (int i = 0; i < 500 && port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      std::smatch m;
      const std::string log = Log();
      if (std::regex_search(log, m, serving)) port_ = std::stoi(m[1]);
    }
  }
  ~Server() {
    if (pid_ > 0 && exit_ < 0) Stop(SIGKILL);
    if (reader_.joinable()) reader_.join();
    if (errFd_ >= 0) close(errFd_);
  }
  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  std::string Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  // Sends Signal and returns the exit status.
  int Stop(int Signal = SIGTERM) {
    kill(pid_, Signal);
    exit_ = Wait(pid_);
    if (reader_.joinable()) reader_.join();
    return exit_;
  }

 private:
  pid_t pid_ = -1;
  int errFd_ = -1;
  int port_ = 0;
  int exit_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::string log_;
};

// The fixture site copied, with links that lead out of it.
struct SiteCopy {
  SiteCopy() {
    fs::copy(kFixtures / "site", dir.path / "site", fs::copy_options::recursive);
    fs::copy(kFixtures / "outside.html", dir.path / "outside.html");
    fs::create_symlink("../outside.html", dir.path / "site" / "leak.html");
    fs::create_symlink("..", dir.path / "site" / "up");
    std::ofstream(dir.path / "site" / ".secret") << "hidden";
    std::ofstream(dir.path / "site" / "_data.json") << R"({"title": "hidden data"})";
  }
  fs::path Site() const { return dir.path / "site"; }
  TempDir dir;
};

// The resident memory of process Pid in KiB (VmRSS), or -1.
inline long RssKb(pid_t Pid) {
  std::ifstream in("/proc/" + std::to_string(Pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// A TCP connection to 127.0.0.1:Port from the loopback address From ("" for
// any); -1 when refused.
inline int Connect(int Port, const std::string& From = "") {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (!From.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, From.c_str(), &local.sin_addr);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(s);
      return -1;
    }
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(Port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// Writes all of Bytes; false when the peer closed first.
inline bool SendAll(int S, const char* Bytes, size_t Size) {
  while (Size > 0) {
    const ssize_t n = send(S, Bytes, Size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    Bytes += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}

// Sends a GET of Target as it stands (no client normalises its path) and
// returns the status code of the answer, with its body in Body.
inline int RawGet(int Port, const std::string& Target, std::string* Body = nullptr) {
  const int s = Connect(Port);
  if (s < 0) return -1;
  const std::string req = "GET " + Target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  if (!SendAll(s, req.data(), req.size())) {
    close(s);
    return -1;
  }
  std::string answer;
  char buf[4096];
  ssize_t n;
  while ((n = read(s, buf, sizeof buf)) > 0) answer.append(buf, static_cast<size_t>(n));
  close(s);
  if (Body) *Body = answer;
  return answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : -1;
}

// An answer read from a socket: status, head and body.
struct Answer {
  int Status = -1;  // -1: closed before a status line
  std::string Head, Body;
  // The value of header Name as sent (exact case of the name not needed).
  std::string Header(const std::string& Name) const {
    std::string lower = Head;
    std::string key = "\r\n" + Name + ":";
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    const size_t at = lower.find(key);
    if (at == std::string::npos) return "";
    size_t start = at + key.size();
    while (start < Head.size() && Head[start] == ' ') ++start;
    return Head.substr(start, Head.find("\r\n", start) - start);
  }
};

// Reads one answer from S: the head, then Content-Length bytes, or to the
// end without one. Gives up after TimeoutMs without data.
inline Answer ReadAnswer(int S, int TimeoutMs = 5000) {
  timeval tv{TimeoutMs / 1000, (TimeoutMs % 1000) * 1000};
  setsockopt(S, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  Answer a;
  std::string data;
  char buf[65536];
  size_t headEnd = std::string::npos;
  long long length = -1;
  for (;;) {
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        a.Head = data.substr(0, headEnd + 2);
        a.Body = data.substr(headEnd + 4);
        if (a.Head.size() > 12) a.Status = std::atoi(a.Head.c_str() + 9);
        const std::string len = a.Header("Content-Length");
        if (!len.empty()) length = std::stoll(len);
      }
    }
    if (length >= 0 && static_cast<long long>(a.Body.size()) >= length) break;
    const ssize_t n = recv(S, buf, sizeof buf, 0);
    if (n <= 0) break;
    (headEnd == std::string::npos ? data : a.Body).append(buf, static_cast<size_t>(n));
  }
  if (headEnd == std::string::npos && a.Head.empty()) a.Head = data;
  return a;
}

// Sends what Send writes on a new connection (from From), on a thread of its
// own so that an answer that comes before the request is all sent is read
// all the same, and returns the answer.
template <typename TSend>
Answer ExchangeWith(int Port, TSend Send, const std::string& From = "", int TimeoutMs = 5000) {
  const int s = Connect(Port, From);
  if (s < 0) return {};
  std::thread writer([&] { Send(s); });
  Answer a = ReadAnswer(s, TimeoutMs);
  shutdown(s, SHUT_RDWR);
  writer.join();
  close(s);
  return a;
}

// Sends Request as it stands and returns the answer.
inline Answer Exchange(int Port, const std::string& Request, const std::string& From = "",
                       int TimeoutMs = 5000) {
  return ExchangeWith(
      Port, [&](int S) { SendAll(S, Request.data(), Request.size()); }, From, TimeoutMs);
}

// Samples the resident memory of a process every 20 ms on a thread of its
// own, keeping the largest.
class RssWatch {
 public:
  explicit RssWatch(pid_t Pid)
      : thread_([this, Pid] {
          while (!stop_) {
            const long kb = RssKb(Pid);
            if (kb > max_) max_ = kb;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~RssWatch() { Stop(); }
  // Stops and returns the largest VmRSS seen, in KiB.
  long Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return max_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> max_{0};
  std::thread thread_;
};

}  // namespace vekpp_test
