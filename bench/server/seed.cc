// Fills a data folder with links for the redirect benchmark: server_bench_seed DIR COUNT CODES
//
// Makes the schema through the store, adds the account kolm (password kolm), then writes COUNT
// links with random codes in one transaction, straight through SQLite, which is far faster than
// COUNT durable commits. Writes a sample of 100,000 of the codes, one a line, to the file CODES.

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/service.h"
#include "server/store.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: server_bench_seed DIR COUNT CODES\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long count = std::atol(argv[2]);
  std::string error;
  quenbrel::StoreOptions options;
  options.dataDir = dir;
  {
    std::unique_ptr<quenbrel::Store> store = quenbrel::OpenStore(options, &error);
    if (!store) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    store->AddUser("kolm", quenbrel::HashPassword("kolm"));
  }
  sqlite3* db = nullptr;
  if (sqlite3_open((dir + "/quenbrel.db").c_str(), &db) != SQLITE_OK) return 1;
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT OR IGNORE INTO links (code, owner, url, url_hash, custom, created) "
                     "VALUES (?, 'seed', ?, ?, 0, 0)",
                     -1, &insert, nullptr);
  FILE* codes = std::fopen(argv[3], "w");
  if (codes == nullptr) return 1;
  for (long stored = 0; stored < count;) {
    const std::string code = quenbrel::NewCode();
    const std::string url = "https://example.com/article/" + std::to_string(stored) + "?ref=bench";
    const std::string digest = quenbrel::UrlDigest(url);
    sqlite3_bind_text(insert, 1, code.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, url.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, digest.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
    if (sqlite3_changes(db) == 1) {
      if (stored % (count / 100000 + 1) == 0) std::fprintf(codes, "%s\n", code.c_str());
      ++stored;
    }
  }
  sqlite3_finalize(insert);
  const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  std::fclose(codes);
  return ok ? 0 : 1;
}
