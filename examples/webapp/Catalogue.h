// The example's catalogue in SQLite: items with a name, a price in cents and
// a rating, and the reviews visitors add; created and filled on first use.
#pragma once

#include <sqlite3.h>

#include <mutex>
#include <string>

#include "VekStdTags.h"  // <vek/VekStdTags.h> when installed

class TCatalogue {
 public:
  /// Opens (creating it if need be) the database File and fills it with
  /// Items items when it holds none. Throws std::runtime_error on failure.
  TCatalogue(const std::string& File, int Items);
  ~TCatalogue();
  TCatalogue(const TCatalogue&) = delete;
  TCatalogue& operator=(const TCatalogue&) = delete;

  /// The items whose name holds Text (as typed: % and _ match themselves),
  /// PerPage from Offset on, as a list of {id, name, cents}; Total is set to
  /// how many match.
  TVekData Search(const std::string& Text, long long Offset, int PerPage, long long& Total);
  /// The item Id as {id, name, cents, rating}, or null when there is none.
  TVekData Item(long long Id);
  /// Its reviews, oldest first, as a list of {text}.
  TVekData Reviews(long long Id);
  /// Adds a review to the item Id; false when there is no such item.
  bool AddReview(long long Id, const std::string& Text);

 private:
  void Exec(const char* Sql);
  sqlite3* FDb = nullptr;
  std::mutex FMutex;  // one connection, used by one request at a time
};
