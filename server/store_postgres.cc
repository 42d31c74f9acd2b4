// The PostgreSQL back end: a pool of connections; a broken one is reset before its next use.

#include <libpq-fe.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "server/sql_store.h"

namespace quenbrel::internal {
namespace {

void IgnoreNotice(void*, const char*) {}

// A new connection whose notices ("relation already exists, skipping") are not printed.
PGconn* Open(const std::string& url) {
  PGconn* c = PQconnectdb(url.c_str());
  PQsetNoticeProcessor(c, IgnoreNotice, nullptr);
  return c;
}

class PostgresStore final : public SqlStore {
 public:
  PostgresStore(std::string url, int size) : url_(std::move(url)), size_(size) {}
  ~PostgresStore() override {
    for (PGconn* c : idle_) PQfinish(c);
  }

  // Opens the first connection and makes the schema.
  bool Start(std::string* error) {
    PGconn* c = Open(url_);
    if (PQstatus(c) != CONNECTION_OK) {
      *error = std::string("cannot connect to PostgreSQL: ") + PQerrorMessage(c);
      PQfinish(c);
      return false;
    }
    for (const char* statement : kSchema) {
      PGresult* r = PQexec(c, statement);
      const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      if (!ok) *error = std::string("cannot create the schema: ") + PQerrorMessage(c);
      PQclear(r);
      if (!ok) {
        PQfinish(c);
        return false;
      }
    }
    opened_ = 1;
    idle_.push_back(c);
    return true;
  }

 protected:
  QueryResult Query(bool, const char* sql,
                    std::initializer_list<std::string_view> params) override {
    QueryResult result;
    PGconn* c = Acquire();
    if (c == nullptr) return result;
    std::vector<std::string> values(params.begin(), params.end());
    std::vector<const char*> pointers;
    for (const std::string& v : values) pointers.push_back(v.c_str());
    PGresult* r = PQexecParams(c, sql, static_cast<int>(pointers.size()), nullptr, pointers.data(),
                               nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
      result.ok = true;
      const int rows = PQntuples(r);
      const int columns = PQnfields(r);
      for (int i = 0; i < rows; ++i) {
        std::vector<std::string>& row = result.rows.emplace_back();
        for (int j = 0; j < columns; ++j) {
          row.emplace_back(PQgetvalue(r, i, j), PQgetlength(r, i, j));
        }
      }
      result.changes = std::strtoll(PQcmdTuples(r), nullptr, 10);
    }
    PQclear(r);
    Release(c);
    return result;
  }

 private:
  PGconn* Acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return !idle_.empty() || opened_ < size_; });
    PGconn* c = nullptr;
    if (!idle_.empty()) {
      c = idle_.back();
      idle_.pop_back();
      lock.unlock();
      if (PQstatus(c) != CONNECTION_OK) PQreset(c);
    } else {
      ++opened_;
      lock.unlock();
      c = Open(url_);
    }
    if (PQstatus(c) == CONNECTION_OK) return c;
    PQfinish(c);
    lock.lock();
    --opened_;
    cv_.notify_one();
    return nullptr;
  }

  void Release(PGconn* c) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(c);
    cv_.notify_one();
  }

  const std::string url_;
  const int size_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<PGconn*> idle_;
  int opened_ = 0;
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const StoreOptions& options, std::string* error) {
  auto store = std::make_unique<PostgresStore>(options.database, std::max(1, options.connections));
  if (!store->Start(error)) return nullptr;
  return store;
}

}  // namespace quenbrel::internal
