// The short-link service: accounts, the API request handler and the redirects, over a Store.
//
// Service::Handle answers one HTTP request that the HTTP layer has already parsed:
//   POST /short_url/api/   form body username, password, longurl and optionally keyword; the reply
//                          is a UTF-8 JSON object {"short_url": "...", "msg": "..."}, with an empty
//                          "short_url" and the reason in "msg" on every failure (400, 401, 413,
//                          429, 503). A failed request stores nothing.
//   GET|HEAD /<code>       302 to the stored address, counting the visit; 404 page when unknown.
//   GET|HEAD /healthz      200 "ok" while the storage answers, 503 otherwise.
//
// Passwords are argon2id strings (HashPassword). Verifying one costs tens of milliseconds by
// design, so a verified account is remembered for a short while under a keyed hash of its name,
// its password and its stored hash: a later request with the same three values is accepted
// without the slow check, and a changed or removed account no longer matches. Failed logins are
// counted per client address; past the limit the address gets 429 until its window ends.
//
// Visits are counted in memory and written to the store in one batch every second (and when
// the service stops), so that a redirect never waits for a disk write.
//
// Threading: Handle may be called from any number of threads at once. The Service starts one
// thread of its own for the visit counts; the destructor stops it after a last flush.
// REQUIRES: the Store outlives the Service.

#ifndef QUENBREL_SERVER_SERVICE_H_
#define QUENBREL_SERVER_SERVICE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/form.h"
#include "server/store.h"

namespace quenbrel {

// The largest request body accepted.
inline constexpr size_t kMaxBodyBytes = 64 * 1024;

struct HttpRequest {
  std::string_view method;       // "GET", "POST", ...
  std::string_view path;         // percent-decoded, without the query
  std::string_view contentType;  // the Content-Type header, empty when none
  std::string_view body;
  bool bodyTooLarge = false;  // the body was over kMaxBodyBytes and was not kept
  std::string_view clientAddress;
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  std::string location;  // the Location header, for 302
};

// The argon2id cost of new password hashes: libsodium's interactive limits (2 passes, 64 MiB).
struct PasswordCost {
  unsigned long long opsLimit = 2;
  size_t memLimit = 64u << 20;
};

// password as an argon2id string with a fresh salt; empty when hashing failed (out of memory).
std::string HashPassword(std::string_view password, const PasswordCost& cost = {});
// True when password matches hash (an argon2id string); the comparison is constant-time.
bool VerifyPassword(std::string_view password, const std::string& hash);

struct ServiceOptions {
  std::string publicUrl;                // the base of the short links, e.g. "http://127.0.0.1:8380"
  std::vector<std::string> ownOrigins;  // further bases this service answers on (the listen one)
  int maxFailedLogins = 10;             // per client address and window; then 429
  std::chrono::seconds failureWindow{60};
  std::chrono::seconds credentialTtl{300};  // how long a verified account is remembered
  std::chrono::milliseconds visitFlushInterval{1000};
  PasswordCost accountCost;        // the cost of the stored hashes, matched for unknown accounts
  size_t linkCacheSize = 1 << 20;  // links kept in memory for the redirects
};

// A bounded map of code -> stored address in front of Store::Resolve. A stored link never
// changes and is never removed, so an entry stays true for as long as the process runs; only
// found links are kept (an unknown code may be stored later). Sharded, one mutex per shard.
// Threading: safe to use from any number of threads at once.
class LinkCache {
 public:
  explicit LinkCache(size_t capacity);
  // True with *url set when code is held.
  bool Find(std::string_view code, std::string* url);
  // Keeps code -> url; a full shard is emptied first.
  void Put(std::string_view code, std::string_view url);

 private:
  static constexpr size_t kShards = 32;
  struct Shard {
    std::mutex mutex;
    std::unordered_map<std::string, std::string> links;
  };
  size_t perShard_;
  Shard shards_[kShards];
};

class Service {
 public:
  Service(Store& store, ServiceOptions options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // The response to request.
  HttpResponse Handle(const HttpRequest& request);
  // Writes the visits counted so far to the store.
  void FlushVisits();

 private:
  HttpResponse Shorten(const HttpRequest& request);
  HttpResponse Redirect(std::string_view method, std::string_view code);
  // 0 when the account is good, otherwise the status to answer (401, 429, 503).
  int CheckAccount(std::string_view name, std::string_view password, std::string_view client);
  bool Locked(std::string_view client);
  void RecordFailure(std::string_view client);

  Store& store_;
  const ServiceOptions options_;
  std::vector<Origin> origins_;
  unsigned char cacheKey_[32];
  std::string dummyHash_;  // verified against for unknown accounts, so that they take as long

  std::mutex accountMutex_;
  std::unordered_map<std::string, std::chrono::steady_clock::time_point> verified_;
  struct Failures {
    int count = 0;
    std::chrono::steady_clock::time_point windowStart;
  };
  std::unordered_map<std::string, Failures> failures_;
  struct Verification {
    bool done = false;
    bool ok = false;
  };
  std::unordered_map<std::string, std::shared_ptr<Verification>> inflight_;
  std::condition_variable inflightCv_;

  LinkCache links_;

  std::mutex visitMutex_;
  std::condition_variable visitCv_;
  std::unordered_map<std::string, int64_t> visits_;
  bool stopping_ = false;
  std::thread flusher_;
};

}  // namespace quenbrel

#endif  // QUENBREL_SERVER_SERVICE_H_
