// The SQLite back end: one file in WAL mode, a pool of reading connections and one writer.

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/sql_store.h"

namespace quenbrel::internal {
namespace {

// One connection and its prepared statements, keyed on the address of their SQL literal.
class Connection {
 public:
  explicit Connection(sqlite3* db) : db_(db) {}
  ~Connection() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    sqlite3_close(db_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  QueryResult Run(const char* sql, std::initializer_list<std::string_view> params) {
    return Run(sql, params.begin(), params.size());
  }

  QueryResult Run(const char* sql, const std::string_view* params, size_t count) {
    QueryResult result;
    sqlite3_stmt*& stmt = statements_[sql];
    if (stmt == nullptr &&
        sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      statements_.erase(sql);
      return result;
    }
    for (size_t i = 0; i < count; ++i) {
      sqlite3_bind_text(stmt, static_cast<int>(i + 1), params[i].data(),
                        static_cast<int>(params[i].size()), SQLITE_STATIC);
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<std::string>& row = result.rows.emplace_back();
      const int columns = sqlite3_column_count(stmt);
      for (int c = 0; c < columns; ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        row.emplace_back(text ? std::string(text, sqlite3_column_bytes(stmt, c)) : std::string());
      }
    }
    result.ok = rc == SQLITE_DONE;
    result.changes = sqlite3_changes(db_);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return result;
  }

 private:
  sqlite3* db_;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

std::unique_ptr<Connection> Connect(const std::string& path, std::string* error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  // WAL lets readers run beside the writer; synchronous=FULL makes every commit reach the disk
  // before it returns, so an acknowledged link survives a crash or a power loss.
  char* message = nullptr;
  // Checkpoints run on a thread of their own (see SqliteStore), never inside a commit.
  if (sqlite3_exec(db,
                   "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                   "PRAGMA wal_autocheckpoint=0;",
                   nullptr, nullptr, &message) != SQLITE_OK) {
    *error = "cannot set up " + path + ": " + (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
    return nullptr;
  }
  return std::make_unique<Connection>(db);
}

// Writes go through one writer thread that commits them in batches: every write waiting when a
// batch starts joins one transaction, and all of them are answered once its commit (one fsync)
// has returned. So a write is durable before its caller learns its result, and concurrent
// requests share the cost of the disk flush instead of queueing for one each. The write-ahead
// log is copied back into the database by a third connection every second (a passive
// checkpoint, which waits for no one), so that no commit pays for it.
class SqliteStore final : public SqlStore {
 public:
  SqliteStore(std::string path, std::unique_ptr<Connection> writer,
              std::unique_ptr<Connection> checkpointer, int readers)
      : path_(std::move(path)),
        writer_(std::move(writer)),
        checkpointer_(std::move(checkpointer)),
        max_readers_(readers) {
    writer_thread_ = std::thread([this] { WriteLoop(); });
    checkpoint_thread_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(write_mutex_);
      while (!stopping_) {
        checkpoint_cv_.wait_for(lock, std::chrono::seconds(1));
        lock.unlock();
        checkpointer_->Run("PRAGMA wal_checkpoint(PASSIVE)", {});
        lock.lock();
      }
    });
  }
  ~SqliteStore() override {
    {
      std::lock_guard<std::mutex> lock(write_mutex_);
      stopping_ = true;
    }
    write_cv_.notify_all();
    checkpoint_cv_.notify_all();
    writer_thread_.join();
    checkpoint_thread_.join();
  }

 protected:
  QueryResult Query(bool write, const char* sql,
                    std::initializer_list<std::string_view> params) override {
    if (write) {
      WriteJob job{sql, std::vector<std::string>(params.begin(), params.end()), {}, false};
      std::unique_lock<std::mutex> lock(write_mutex_);
      pending_.push_back(&job);
      write_cv_.notify_all();
      done_cv_.wait(lock, [&] { return job.done; });
      return std::move(job.result);
    }
    std::unique_ptr<Connection> reader = AcquireReader();
    if (!reader) return {};
    QueryResult result = reader->Run(sql, params);
    ReleaseReader(std::move(reader));
    return result;
  }

 private:
  struct WriteJob {
    const char* sql;
    std::vector<std::string> params;
    QueryResult result;
    bool done;
  };

  void WriteLoop() {
    std::vector<WriteJob*> batch;
    std::unique_lock<std::mutex> lock(write_mutex_);
    for (;;) {
      write_cv_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
      if (pending_.empty()) return;  // stopping, and nothing left to write
      batch.swap(pending_);
      lock.unlock();
      const bool begun = writer_->Run("BEGIN IMMEDIATE", {}).ok;
      for (WriteJob* job : batch) {
        if (!begun) break;
        std::vector<std::string_view> views(job->params.begin(), job->params.end());
        job->result = writer_->Run(job->sql, views.data(), views.size());
      }
      const bool committed = begun && writer_->Run("COMMIT", {}).ok;
      if (!committed) {
        if (begun) writer_->Run("ROLLBACK", {});
        for (WriteJob* job : batch) job->result = {};  // nothing of this batch was stored
      }
      lock.lock();
      for (WriteJob* job : batch) job->done = true;
      batch.clear();
      done_cv_.notify_all();
    }
  }

  std::unique_ptr<Connection> AcquireReader() {
    std::unique_lock<std::mutex> lock(pool_mutex_);
    pool_cv_.wait(lock, [&] { return !idle_.empty() || opened_ < max_readers_; });
    if (!idle_.empty()) {
      std::unique_ptr<Connection> c = std::move(idle_.back());
      idle_.pop_back();
      return c;
    }
    ++opened_;
    lock.unlock();
    std::string error;
    std::unique_ptr<Connection> c = Connect(path_, &error);
    if (!c) {
      lock.lock();
      --opened_;
      pool_cv_.notify_one();
    }
    return c;
  }

  void ReleaseReader(std::unique_ptr<Connection> c) {
    std::lock_guard<std::mutex> lock(pool_mutex_);
    idle_.push_back(std::move(c));
    pool_cv_.notify_one();
  }

  const std::string path_;
  std::unique_ptr<Connection> writer_;        // used by the writer thread only
  std::unique_ptr<Connection> checkpointer_;  // used by the checkpoint thread only
  std::mutex write_mutex_;
  std::condition_variable write_cv_;
  std::condition_variable done_cv_;
  std::condition_variable checkpoint_cv_;
  std::vector<WriteJob*> pending_;
  bool stopping_ = false;
  std::thread writer_thread_;
  std::thread checkpoint_thread_;
  std::mutex pool_mutex_;
  std::condition_variable pool_cv_;
  std::vector<std::unique_ptr<Connection>> idle_;
  int opened_ = 0;
  const int max_readers_;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const StoreOptions& options, std::string* error) {
  if (options.dataDir.empty()) {
    *error = "no data folder given";
    return nullptr;
  }
  // Make the folder and its parents, private to the user: it holds the password hashes.
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = options.dataDir.find('/', slash + 1);
    mkdir(options.dataDir.substr(0, slash).c_str(), 0700);
  }
  const std::string path = options.dataDir + "/quenbrel.db";
  std::unique_ptr<Connection> writer = Connect(path, error);
  if (!writer) return nullptr;
  for (const char* statement : kSchema) {
    if (!writer->Run(statement, {}).ok) {
      *error = "cannot create the schema in " + path;
      return nullptr;
    }
  }
  std::unique_ptr<Connection> checkpointer = Connect(path, error);
  if (!checkpointer) return nullptr;
  return std::make_unique<SqliteStore>(path, std::move(writer), std::move(checkpointer),
                                       std::max(1, options.connections));
}

}  // namespace quenbrel::internal
