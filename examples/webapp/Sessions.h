// Visitors' sessions: a random session id (the cookie) and the random token
// its forms carry, so that a form posted from another site is refused.
#pragma once

#include <map>
#include <mutex>
#include <string>

class TSessions {
 public:
  /// The token of the session Id; a new session (Id set to its new id) when
  /// Id names none. At most 10,000 sessions are kept: the oldest go first.
  std::string Token(std::string& Id);
  /// True when Token is the token of the session Id (compared in constant
  /// time).
  bool Holds(const std::string& Id, const std::string& Token);

 private:
  std::mutex FMutex;
  std::map<std::string, std::string> FTokens;
  std::map<unsigned long long, std::string> FOrder;  // age -> id
  std::map<std::string, unsigned long long> FAge;
  unsigned long long FNext = 0;
};

/// 32 random hex digits from the system's generator.
std::string RandomHex();
