// Storage of accounts and short links: SQLite in WAL mode, or PostgreSQL, behind one interface.
//
// Both back ends use the same schema:
//   users(name TEXT PRIMARY KEY, hash TEXT)             -- hash: an argon2id string
//   links(code TEXT PRIMARY KEY, owner TEXT, url TEXT, url_hash TEXT, custom INTEGER,
//         created BIGINT, visits BIGINT)                -- url_hash: hex digest of url
//   UNIQUE (owner, url_hash) WHERE custom = 0           -- one random code per account and address
//
// A call that returns kOk or a code has committed its write durably (SQLite: synchronous=FULL;
// PostgreSQL: synchronous commit) before it returns. kUnavailable means the storage could not
// be reached or failed; nothing was written then.
//
// Threading: a Store is safe to use from any number of threads at once. Each back end keeps a
// small pool of connections. SQLite writes go through one writer thread of the store's own,
// which commits the writes waiting at that moment in one transaction (group commit).

#ifndef QUENBREL_SERVER_STORE_H_
#define QUENBREL_SERVER_STORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quenbrel {

enum class StoreStatus { kOk, kNotFound, kTaken, kExists, kUnavailable };

struct StoredUser {
  std::string hash;  // the argon2id string
};

// What a shortening stored or found.
struct ShortenResult {
  StoreStatus status = StoreStatus::kUnavailable;  // kOk, kTaken (keyword) or kUnavailable
  std::string code;                                // set when kOk
  bool created = false;                            // false: an existing link was returned
};

class Store {
 public:
  virtual ~Store() = default;

  // kOk, kExists (an account of that name exists) or kUnavailable.
  virtual StoreStatus AddUser(std::string_view name, std::string_view hash) = 0;
  // kOk, kNotFound or kUnavailable.
  virtual StoreStatus RemoveUser(std::string_view name) = 0;
  // The account's stored hash: kOk with user set, kNotFound or kUnavailable.
  virtual StoreStatus FindUser(std::string_view name, StoredUser* user) = 0;

  // Stores url for owner under keyword, or under a fresh random code when keyword is empty. The
  // same owner and url without a keyword give back the code stored before. A keyword that holds
  // another link gives kTaken; one that already holds this owner's url gives it back.
  virtual ShortenResult Shorten(std::string_view owner, std::string_view url,
                                std::string_view keyword) = 0;
  // The address stored under code: kOk with url set, kNotFound or kUnavailable.
  virtual StoreStatus Resolve(std::string_view code, std::string* url) = 0;
  // Adds count visits to code (no effect when it does not exist).
  virtual StoreStatus AddVisits(std::string_view code, int64_t count) = 0;
  // The number of visits counted for code, -1 when unknown or unavailable.
  virtual int64_t Visits(std::string_view code) = 0;
  // The number of links stored, -1 when unavailable.
  virtual int64_t CountLinks() = 0;
  // True when a trivial query succeeds.
  virtual bool Healthy() = 0;
};

// Where the data lives: a PostgreSQL URL ("postgresql://..." or "postgres://...") when
// database is given, otherwise the SQLite file quenbrel.db in dataDir (made when missing).
struct StoreOptions {
  std::string dataDir;
  std::string database;
  int connections = 4;  // the size of the connection pool
};

// Opens the storage and makes its schema; nullptr with error set when that fails.
std::unique_ptr<Store> OpenStore(const StoreOptions& options, std::string* error);

// A new random code: 7 characters of [0-9A-Za-z] from the system's CSPRNG.
std::string NewCode();
// The hex digest under which url is kept unique per owner.
std::string UrlDigest(std::string_view url);

namespace internal {
std::unique_ptr<Store> OpenSqliteStore(const StoreOptions& options, std::string* error);
std::unique_ptr<Store> OpenPostgresStore(const StoreOptions& options, std::string* error);
}  // namespace internal

}  // namespace quenbrel

#endif  // QUENBREL_SERVER_STORE_H_
