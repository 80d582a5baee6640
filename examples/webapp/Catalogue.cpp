// TCatalogue: the SQL of the example, every value bound as a parameter.
#include "Catalogue.h"

#include <stdexcept>

namespace {

// Finalises a statement when it goes.
struct TStatement {
  sqlite3_stmt* S = nullptr;
  TStatement(sqlite3* Db, const char* Sql) {
    if (sqlite3_prepare_v2(Db, Sql, -1, &S, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("SQL: ") + sqlite3_errmsg(Db));
  }
  ~TStatement() { sqlite3_finalize(S); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
  void Bind(int I, long long V) { sqlite3_bind_int64(S, I, V); }
  void Bind(int I, const std::string& V) {
    sqlite3_bind_text(S, I, V.data(), static_cast<int>(V.size()), SQLITE_TRANSIENT);
  }
  bool Step() {
    const int rc = sqlite3_step(S);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
      throw std::runtime_error(std::string("SQL: ") + sqlite3_errmsg(sqlite3_db_handle(S)));
    return rc == SQLITE_ROW;
  }
  long long Int(int C) { return sqlite3_column_int64(S, C); }
  std::string Text(int C) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(S, C));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(S, C))) : std::string();
  }
};

// Names for the generated items, and a few hostile ones that the pages must
// show as text.
const char* const kAdjectives[] = {"Red",   "Oak",   "Brass", "Linen",
                                   "Stone", "Glass", "Blue",  "Copper"};
const char* const kNouns[] = {"lamp", "chair", "table", "bowl", "vase", "shelf"};
const char* const kHostile[] = {"<script>alert('lamp')</script>",
                                "\"><img src=x onerror=alert(2)> lamp",
                                "javascript:alert(3) & lamp", "</textarea><b>lamp</b>"};

}  // namespace

TCatalogue::TCatalogue(const std::string& File, int Items) {
  if (sqlite3_open_v2(File.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    const std::string why = FDb ? sqlite3_errmsg(FDb) : "out of memory";
    sqlite3_close(FDb);
    throw std::runtime_error("cannot open " + File + ": " + why);
  }
  Exec(
      "CREATE TABLE IF NOT EXISTS items (id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
      "cents INTEGER NOT NULL, rating INTEGER NOT NULL)");
  Exec(
      "CREATE TABLE IF NOT EXISTS reviews (id INTEGER PRIMARY KEY, item INTEGER NOT NULL "
      "REFERENCES items(id), text TEXT NOT NULL)");
  TStatement count(FDb, "SELECT count(*) FROM items");
  count.Step();
  if (count.Int(0) > 0) return;
  Exec("BEGIN");
  TStatement add(FDb, "INSERT INTO items (id, name, cents, rating) VALUES (?1, ?2, ?3, ?4)");
  for (int i = 1; i <= Items; ++i) {
    const size_t k = static_cast<size_t>(i);
    std::string name = k <= 4 ? kHostile[k - 1]
                              : std::string(kAdjectives[k % 8]) + " " + kNouns[(k / 8) % 6] + " " +
                                    std::to_string(i);
    add.Bind(1, i);
    add.Bind(2, name);
    add.Bind(3, 199 + (i * 37) % 9000);
    add.Bind(4, 1 + i % 5);
    add.Step();
    sqlite3_reset(add.S);
  }
  Exec("COMMIT");
}

TCatalogue::~TCatalogue() {
  sqlite3_close(FDb);
}

void TCatalogue::Exec(const char* Sql) {
  char* error = nullptr;
  if (sqlite3_exec(FDb, Sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string why = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(std::string("SQL: ") + why);
  }
}

TVekData TCatalogue::Search(const std::string& Text, long long Offset, int PerPage,
                            long long& Total) {
  // LIKE with its wildcards escaped: the text is looked for as typed.
  std::string pattern = "%";
  for (char c : Text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  pattern += '%';
  std::lock_guard<std::mutex> lock(FMutex);
  TStatement count(FDb, "SELECT count(*) FROM items WHERE name LIKE ?1 ESCAPE '\\'");
  count.Bind(1, pattern);
  count.Step();
  Total = count.Int(0);
  TStatement rows(FDb,
                  "SELECT id, name, cents FROM items WHERE name LIKE ?1 ESCAPE '\\' "
                  "ORDER BY id LIMIT ?2 OFFSET ?3");
  rows.Bind(1, pattern);
  rows.Bind(2, PerPage);
  rows.Bind(3, Offset);
  TVekData items = TVekData::array();
  while (rows.Step())
    items.push_back({{"id", rows.Int(0)}, {"name", rows.Text(1)}, {"cents", rows.Int(2)}});
  return items;
}

TVekData TCatalogue::Item(long long Id) {
  std::lock_guard<std::mutex> lock(FMutex);
  TStatement row(FDb, "SELECT id, name, cents, rating FROM items WHERE id = ?1");
  row.Bind(1, Id);
  if (!row.Step()) return nullptr;
  return {{"id", row.Int(0)}, {"name", row.Text(1)}, {"cents", row.Int(2)}, {"rating", row.Int(3)}};
}

TVekData TCatalogue::Reviews(long long Id) {
  std::lock_guard<std::mutex> lock(FMutex);
  TStatement rows(FDb, "SELECT text FROM reviews WHERE item = ?1 ORDER BY id");
  rows.Bind(1, Id);
  TVekData list = TVekData::array();
  while (rows.Step()) list.push_back({{"text", rows.Text(0)}});
  return list;
}

bool TCatalogue::AddReview(long long Id, const std::string& Text) {
  if (Item(Id).is_null()) return false;
  std::lock_guard<std::mutex> lock(FMutex);
  TStatement add(FDb, "INSERT INTO reviews (item, text) VALUES (?1, ?2)");
  add.Bind(1, Id);
  add.Bind(2, Text);
  add.Step();
  return true;
}
