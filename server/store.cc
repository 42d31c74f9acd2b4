#include "server/store.h"

#include <sodium.h>

#include <cstdlib>
#include <ctime>

#include "server/sql_store.h"

namespace quenbrel {

std::string NewCode() {
  static constexpr char kAlphabet[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string code(7, '0');
  for (char& c : code) c = kAlphabet[randombytes_uniform(62)];
  return code;
}

std::string UrlDigest(std::string_view url) {
  unsigned char digest[32];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(url.data()),
                     url.size(), nullptr, 0);
  char hex[sizeof digest * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

std::unique_ptr<Store> OpenStore(const StoreOptions& options, std::string* error) {
  if (sodium_init() < 0) {
    *error = "libsodium could not be initialised";
    return nullptr;
  }
  const std::string_view db = options.database;
  if (!db.empty()) {
    if (db.substr(0, 13) != "postgresql://" && db.substr(0, 11) != "postgres://") {
      *error = "--database takes a postgresql:// address";
      return nullptr;
    }
    return internal::OpenPostgresStore(options, error);
  }
  return internal::OpenSqliteStore(options, error);
}

namespace internal {

const char* const kSchema[3] = {
    ("CREATE TABLE IF NOT EXISTS users (name TEXT PRIMARY KEY, hash TEXT NOT NULL)"),
    ("CREATE TABLE IF NOT EXISTS links (code TEXT PRIMARY KEY, owner TEXT NOT NULL, "
     "url TEXT NOT NULL, url_hash TEXT NOT NULL, custom INTEGER NOT NULL, "
     "created BIGINT NOT NULL, visits BIGINT NOT NULL DEFAULT 0)"),
    ("CREATE UNIQUE INDEX IF NOT EXISTS links_owner_url ON links (owner, url_hash) "
     "WHERE custom = 0"),
};

StoreStatus SqlStore::AddUser(std::string_view name, std::string_view hash) {
  const QueryResult r = Query(true,
                              "INSERT INTO users (name, hash) VALUES ($1, $2) "
                              "ON CONFLICT DO NOTHING",
                              {name, hash});
  if (!r.ok) return StoreStatus::kUnavailable;
  return r.changes == 1 ? StoreStatus::kOk : StoreStatus::kExists;
}

StoreStatus SqlStore::RemoveUser(std::string_view name) {
  const QueryResult r = Query(true, "DELETE FROM users WHERE name = $1", {name});
  if (!r.ok) return StoreStatus::kUnavailable;
  return r.changes >= 1 ? StoreStatus::kOk : StoreStatus::kNotFound;
}

StoreStatus SqlStore::FindUser(std::string_view name, StoredUser* user) {
  const QueryResult r = Query(false, "SELECT hash FROM users WHERE name = $1", {name});
  if (!r.ok) return StoreStatus::kUnavailable;
  if (r.rows.empty()) return StoreStatus::kNotFound;
  user->hash = r.rows[0][0];
  return StoreStatus::kOk;
}

ShortenResult SqlStore::Shorten(std::string_view owner, std::string_view url,
                                std::string_view keyword) {
  const std::string digest = UrlDigest(url);
  const std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
  ShortenResult result;
  if (!keyword.empty()) {
    const QueryResult inserted =
        Query(true,
              "INSERT INTO links (code, owner, url, url_hash, custom, created) "
              "VALUES ($1, $2, $3, $4, 1, $5) ON CONFLICT DO NOTHING",
              {keyword, owner, url, digest, now});
    if (!inserted.ok) return result;
    if (inserted.changes == 1) return {StoreStatus::kOk, std::string(keyword), true};
    const QueryResult held =
        Query(false, "SELECT owner, url FROM links WHERE code = $1", {keyword});
    if (!held.ok) return result;
    if (!held.rows.empty() && held.rows[0][0] == owner && held.rows[0][1] == url) {
      return {StoreStatus::kOk, std::string(keyword), false};
    }
    return {StoreStatus::kTaken, {}, false};
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    const QueryResult existing = Query(
        false, "SELECT code, url FROM links WHERE owner = $1 AND url_hash = $2 AND custom = 0",
        {owner, digest});
    if (!existing.ok) return result;
    if (!existing.rows.empty()) return {StoreStatus::kOk, existing.rows[0][0], false};
    const std::string code = NewCode();
    const QueryResult inserted =
        Query(true,
              "INSERT INTO links (code, owner, url, url_hash, custom, created) "
              "VALUES ($1, $2, $3, $4, 0, $5) ON CONFLICT DO NOTHING",
              {code, owner, url, digest, now});
    if (!inserted.ok) return result;
    if (inserted.changes == 1) return {StoreStatus::kOk, code, true};
    // Either the code was drawn before (rare: retry with another) or a concurrent request
    // stored this address first (the select above finds it).
  }
  return result;
}

StoreStatus SqlStore::Resolve(std::string_view code, std::string* url) {
  const QueryResult r = Query(false, "SELECT url FROM links WHERE code = $1", {code});
  if (!r.ok) return StoreStatus::kUnavailable;
  if (r.rows.empty()) return StoreStatus::kNotFound;
  *url = r.rows[0][0];
  return StoreStatus::kOk;
}

StoreStatus SqlStore::AddVisits(std::string_view code, int64_t count) {
  const std::string n = std::to_string(static_cast<long long>(count));
  const QueryResult r =
      Query(true, "UPDATE links SET visits = visits + $1 WHERE code = $2", {n, code});
  return r.ok ? StoreStatus::kOk : StoreStatus::kUnavailable;
}

int64_t SqlStore::Visits(std::string_view code) {
  const QueryResult r = Query(false, "SELECT visits FROM links WHERE code = $1", {code});
  if (!r.ok || r.rows.empty()) return -1;
  return std::strtoll(r.rows[0][0].c_str(), nullptr, 10);
}

int64_t SqlStore::CountLinks() {
  const QueryResult r = Query(false, "SELECT COUNT(*) FROM links", {});
  if (!r.ok || r.rows.empty()) return -1;
  return std::strtoll(r.rows[0][0].c_str(), nullptr, 10);
}

bool SqlStore::Healthy() { return Query(false, "SELECT 1", {}).ok; }

}  // namespace internal
}  // namespace quenbrel
