// The storage logic shared by the SQL back ends, over one query primitive (internal).
//
// Statements use "$1".."$n" for their parameters, each first written in that order, which both
// SQLite and PostgreSQL accept; values travel as text, and results come back as text.

#ifndef QUENBREL_SERVER_SQL_STORE_H_
#define QUENBREL_SERVER_SQL_STORE_H_

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "server/store.h"

namespace quenbrel::internal {

// The schema, one statement per entry, the same text for both back ends.
extern const char* const kSchema[3];

struct QueryResult {
  bool ok = false;
  std::vector<std::vector<std::string>> rows;
  long long changes = 0;
};

class SqlStore : public Store {
 public:
  StoreStatus AddUser(std::string_view name, std::string_view hash) override;
  StoreStatus RemoveUser(std::string_view name) override;
  StoreStatus FindUser(std::string_view name, StoredUser* user) override;
  ShortenResult Shorten(std::string_view owner, std::string_view url,
                        std::string_view keyword) override;
  StoreStatus Resolve(std::string_view code, std::string* url) override;
  StoreStatus AddVisits(std::string_view code, int64_t count) override;
  int64_t Visits(std::string_view code) override;
  int64_t CountLinks() override;
  bool Healthy() override;

 protected:
  // Runs one statement; write says that it changes data. sql must be a string literal: back ends
  // may key their prepared statements on its address.
  virtual QueryResult Query(bool write, const char* sql,
                            std::initializer_list<std::string_view> params) = 0;
};

}  // namespace quenbrel::internal

#endif  // QUENBREL_SERVER_SQL_STORE_H_
