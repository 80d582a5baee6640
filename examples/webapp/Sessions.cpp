// TSessions: ids and tokens from /dev/urandom, kept in a bounded map.
#include "Sessions.h"

#include <fstream>
#include <stdexcept>

std::string RandomHex() {
  std::ifstream random("/dev/urandom", std::ios::binary);
  unsigned char bytes[16];
  if (!random.read(reinterpret_cast<char*>(bytes), sizeof bytes))
    throw std::runtime_error("cannot read /dev/urandom");
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

std::string TSessions::Token(std::string& Id) {
  std::lock_guard<std::mutex> lock(FMutex);
  const auto it = FTokens.find(Id);
  if (it != FTokens.end()) return it->second;
  if (FTokens.size() >= 10000) {
    const auto oldest = FOrder.begin();
    FTokens.erase(oldest->second);
    FAge.erase(oldest->second);
    FOrder.erase(oldest);
  }
  Id = RandomHex();
  const std::string token = RandomHex();
  FTokens[Id] = token;
  FOrder[FNext] = Id;
  FAge[Id] = FNext++;
  return token;
}

bool TSessions::Holds(const std::string& Id, const std::string& Token) {
  std::lock_guard<std::mutex> lock(FMutex);
  const auto it = FTokens.find(Id);
  if (it == FTokens.end() || it->second.size() != Token.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < Token.size(); ++i)
    diff |= static_cast<unsigned char>(it->second[i] ^ Token[i]);
  return diff == 0;
}
