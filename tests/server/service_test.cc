// The service over real HTTP on 127.0.0.1, each test on SQLite and on a real PostgreSQL.

#include "server/service.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "server/form.h"
#include "server/http_server.h"
#include "server/store.h"
#include "tests/server/helpers.h"

namespace quenbrel {
namespace {

using testing::ApiRequest;
using testing::Exchange;
using testing::GetRequest;
using testing::JsonMember;
using testing::Reply;

enum class Backend { kSqlite, kPostgres };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "Sqlite" : "Postgres";
}

// A cheap hash cost keeps account set-up fast; verification reads the cost from the hash.
constexpr PasswordCost kTestCost{.opsLimit = 1, .memLimit = 8u << 20};

// The account the window is prefilled with, and one with a Chinese name and password.
constexpr char kGbkName[] = "\xD5\xC5\xC8\xFD";      // 张三
constexpr char kGbkPassword[] = "\xC3\xDC\xC2\xEB";  // 密码

class ServiceTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { Open(); }
  void TearDown() override {
    Close();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  StoreOptions Storage() {
    StoreOptions options;
    if (GetParam() == Backend::kPostgres) {
      testing::PgCluster* cluster = testing::PgCluster::Get();
      if (cluster == nullptr) {
        ADD_FAILURE() << "PostgreSQL: " << testing::PgCluster::error();
        return options;
      }
      if (database_.empty()) database_ = cluster->NewDatabase();
      options.database = database_;
    } else {
      if (dir_.empty()) dir_ = testing::TempDir();
      options.dataDir = dir_;
    }
    return options;
  }

  void Open(ServiceOptions options = {}, int threads = 16) {
    std::string error;
    StoreOptions storage = Storage();
    storage.connections = threads + 1;
    store_ = OpenStore(storage, &error);
    ASSERT_TRUE(store_) << error;
    if (store_->AddUser("kolm", HashPassword("kolm", kTestCost)) == StoreStatus::kOk) {
      ASSERT_EQ(store_->AddUser("张三", HashPassword("密码", kTestCost)), StoreStatus::kOk);
    }
    server_ =
        HttpServer::Listen({.listen = "127.0.0.1:0", .threads = threads, .log = false}, &error);
    ASSERT_TRUE(server_) << error;
    base_ = server_->base();
    options.publicUrl = "http://s.example";
    options.ownOrigins = {base_};
    service_ = std::make_unique<Service>(*store_, options);
    ASSERT_TRUE(server_->Serve(*service_, &error)) << error;
  }

  void Close() {
    if (server_) server_->Stop(0);
    server_.reset();
    service_.reset();
    store_.reset();
  }

  Reply Post(std::string_view body, std::string_view type = "application/x-www-form-urlencoded") {
    return Exchange(server_->port(), ApiRequest(body, type));
  }
  Reply Get(std::string_view path, std::string_view method = "GET") {
    return Exchange(server_->port(), GetRequest(path, method));
  }
  // The code of a short link of this service.
  static std::string CodeOf(const std::string& shortUrl) {
    const std::string prefix = "http://s.example/";
    return shortUrl.rfind(prefix, 0) == 0 ? shortUrl.substr(prefix.size()) : "";
  }

  std::string dir_;
  std::string database_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<HttpServer> server_;
  std::unique_ptr<Service> service_;
  std::string base_;
};

// The bytes the tool sends, old (raw GBK) and new (percent-encoded GBK), and UTF-8 forms.
struct ToolCase {
  const char* name;
  const char* contentType;
  std::string body;
  std::string stored;  // the address as stored, UTF-8
};

TEST_P(ServiceTest, ShortensWhatTheToolSendsAndTheLinkResolves) {
  const std::string form = "application/x-www-form-urlencoded";
  const ToolCase cases[] = {
      {"plain", form.c_str(), "username=kolm&password=kolm&longurl=http://example.com/a",
       "http://example.com/a"},
      {"raw GBK address", form.c_str(),
       "username=kolm&password=kolm&longurl=http://example.com/\xD6\xD0\xCE\xC4",
       "http://example.com/中文"},
      {"raw GBK account", form.c_str(),
       std::string("username=") + kGbkName + "&password=" + kGbkPassword +
           "&longurl=https://example.com/x",
       "https://example.com/x"},
      {"percent-encoded GBK with & = + % # in the query", form.c_str(),
       "username=%D5%C5%C8%FD&password=%C3%DC%C2%EB&longurl=http%3A%2F%2Fexample.com%2F%D6%D0"
       "%3Fa%3D1%26b%3D2%2B3%25%23frag",
       "http://example.com/中?a=1&b=2+3%#frag"},
      {"raw query with & and = (old tool)", form.c_str(),
       "username=kolm&password=kolm&longurl=http://example.com/s?q=1&lang=zh+cn&x=%41#top",
       "http://example.com/s?q=1&lang=zh+cn&x=%41#top"},
      {"UTF-8 body", "application/x-www-form-urlencoded; charset=UTF-8",
       "username=%E5%BC%A0%E4%B8%89&password=密码&longurl=http://例子.cn/路径?k=%E4%B8%AD",
       "http://例子.cn/路径?k=中"},
      {"no content type", "", "username=kolm&password=kolm&longurl=http://example.com/none",
       "http://example.com/none"},
  };
  std::set<std::string> codes;
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Reply reply = Post(c.body, c.contentType);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_FALSE(JsonMember(reply.body, "msg").empty());
    const std::string code = CodeOf(JsonMember(reply.body, "short_url"));
    ASSERT_EQ(code.size(), 7u) << reply.body;
    EXPECT_EQ(
        code.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
        std::string::npos);
    codes.insert(code);
    std::string stored;
    ASSERT_EQ(store_->Resolve(code, &stored), StoreStatus::kOk);
    EXPECT_EQ(stored, c.stored);
    for (const char* method : {"GET", "HEAD"}) {
      const Reply redirect = Get("/" + code, method);
      EXPECT_EQ(redirect.status, 302) << method;
      EXPECT_EQ(redirect.Header("Location"), EncodeForLocation(c.stored)) << method;
    }
  }
  EXPECT_EQ(codes.size(), std::size(cases));
  service_->FlushVisits();
  EXPECT_EQ(store_->Visits(*codes.begin()), 2);
}

TEST_P(ServiceTest, SameAccountAndAddressGiveTheSameCode) {
  const std::string body = "username=kolm&password=kolm&longurl=http://example.com/same";
  const std::string first = JsonMember(Post(body).body, "short_url");
  EXPECT_EQ(JsonMember(Post(body).body, "short_url"), first);
  const std::string other = JsonMember(
      Post("username=%D5%C5%C8%FD&password=%C3%DC%C2%EB&longurl=http://example.com/same").body,
      "short_url");
  EXPECT_NE(other, first);
  EXPECT_FALSE(CodeOf(other).empty());
  EXPECT_EQ(store_->CountLinks(), 2);
}

TEST_P(ServiceTest, Keywords) {
  const std::string mine = "username=kolm&password=kolm&longurl=http://example.com/k&keyword=";
  Reply r = Post(mine + "my-Link_1");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(JsonMember(r.body, "short_url"), "http://s.example/my-Link_1");
  // Asking again for the same keyword and address is no conflict.
  EXPECT_EQ(Post(mine + "my-Link_1").status, 200);
  EXPECT_EQ(Get("/my-Link_1").Header("Location"), "http://example.com/k");
  // Taken: by another address of the same account, or by another account.
  r = Post("username=kolm&password=kolm&longurl=http://example.com/other&keyword=my-Link_1");
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(JsonMember(r.body, "short_url"), "");
  r = Post(
      "username=%D5%C5%C8%FD&password=%C3%DC%C2%EB&longurl=http://example.com/k&keyword="
      "my-Link_1");
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(store_->CountLinks(), 1);
}

struct BadCase {
  const char* name;
  std::string body;
  int status;
  const char* contentType = "application/x-www-form-urlencoded";
};

TEST_P(ServiceTest, BadInputGetsAClearJsonErrorAndStoresNothing) {
  const std::string ok = "username=kolm&password=kolm&longurl=";
  const BadCase cases[] = {
      {"no username", "password=kolm&longurl=http://example.com/", 400},
      {"no password", "username=kolm&longurl=http://example.com/", 400},
      {"no longurl", "username=kolm&password=kolm", 400},
      {"empty longurl", ok, 400},
      {"empty body", "", 400},
      {"wrong password", "username=kolm&password=kolm2&longurl=http://example.com/", 401},
      {"unknown account", "username=nobody&password=kolm&longurl=http://example.com/", 401},
      {"javascript:", ok + "javascript:alert(1)", 400},
      {"javascript: with a space", ok + "+javascript:alert(1)", 400},
      {"data:", ok + "data:text/html,<b>x</b>", 400},
      {"file:", ok + "file:///etc/passwd", 400},
      {"ftp:", ok + "ftp://example.com/", 400},
      {"no host", ok + "http:///path", 400},
      {"only a port", ok + "http://:80/", 400},
      {"CRLF inside", ok + "http://example.com/a%0D%0ALocation:+http://evil/", 400},
      {"raw CRLF inside", ok + "http://example.com/a\r\nX: y", 400},
      {"NUL inside", ok + "http://example.com/%00", 400},
      {"tab inside", ok + "http://exa%09mple.com/", 400},
      {"over 8 KB", ok + "http://example.com/" + std::string(8200, 'a'), 400},
      {"this service", ok + "http://s.example/abcdefg", 400},
      {"this service's listen address", ok + "http://localhost:PORT/x", 400},
      {"invalid percent-encoding", ok + "http://example.com/%zz", 400},
      {"truncated percent-encoding", ok + "http://example.com/%4", 400},
      {"percent at the end", ok + "http://example.com/%", 400},
      {"lead byte without trail", ok + "http://example.com/\xD6", 400},
      {"bad trail byte", ok + "http://example.com/\x81\x7F", 400},
      {"0xFF", ok + "http://example.com/%FF", 400},
      {"bad UTF-8", ok + "http://example.com/%C0%AF", 400,
       "application/x-www-form-urlencoded; charset=utf-8"},
      {"GBK sent as UTF-8", ok + "http://example.com/\xD6\xD0", 400,
       "application/x-www-form-urlencoded;charset=\"utf-8\""},
      {"keyword with a slash", ok + "http://example.com/&keyword=a/b", 400},
      {"keyword in Chinese", ok + "http://example.com/&keyword=%D6%D0", 400},
      {"keyword too long", ok + "http://example.com/&keyword=" + std::string(65, 'k'), 400},
      {"keyword taken by the health check", ok + "http://example.com/&keyword=healthz", 400},
  };
  for (BadCase c : cases) {
    SCOPED_TRACE(c.name);
    if (const size_t at = c.body.find("PORT"); at != std::string::npos) {
      c.body.replace(at, 4, std::to_string(server_->port()));
    }
    const Reply reply = Post(c.body, c.contentType);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_EQ(reply.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(JsonMember(reply.body, "short_url"), "");
    EXPECT_NE(JsonMember(reply.body, "msg"), "<absent>");
    EXPECT_FALSE(JsonMember(reply.body, "msg").empty());
  }
  EXPECT_EQ(store_->CountLinks(), 0);
}

TEST_P(ServiceTest, BodiesOver64KBAreRefused) {
  const std::string big =
      "username=kolm&password=kolm&longurl=http://example.com/?" + std::string(kMaxBodyBytes, 'a');
  Reply r = Post(big);
  EXPECT_EQ(r.status, 413);
  EXPECT_EQ(JsonMember(r.body, "short_url"), "");
  // Without a length: chunked, found too large while it is read.
  std::string chunked =
      "POST /short_url/api/ HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
      "Connection: close\r\n\r\n";
  for (size_t sent = 0; sent < big.size(); sent += 4096) {
    const std::string piece = big.substr(sent, 4096);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";
  r = Exchange(server_->port(), chunked);
  EXPECT_EQ(r.status, 413);
  EXPECT_EQ(JsonMember(r.body, "short_url"), "");
  // Exactly at the limit is read (and here fails only on the address length).
  const std::string edge = "username=kolm&password=kolm&longurl=http://example.com/?" +
                           std::string(kMaxBodyBytes - 56, 'a');
  ASSERT_EQ(edge.size(), kMaxBodyBytes);
  EXPECT_EQ(Post(edge).status, 400);
  EXPECT_EQ(store_->CountLinks(), 0);
}

TEST_P(ServiceTest, TooManyFailedLoginsGive429) {
  Close();
  ServiceOptions options;
  options.maxFailedLogins = 3;
  Open(options);
  const std::string bad = "username=kolm&password=x&longurl=http://example.com/";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Post(bad).status, 401);
  const Reply r = Post("username=kolm&password=kolm&longurl=http://example.com/");
  EXPECT_EQ(r.status, 429);
  EXPECT_EQ(JsonMember(r.body, "short_url"), "");
  EXPECT_EQ(store_->CountLinks(), 0);
}

TEST_P(ServiceTest, RemovedAccountIsRefusedAtOnceThoughItWasVerified) {
  const std::string body = "username=kolm&password=kolm&longurl=http://example.com/";
  ASSERT_EQ(Post(body).status, 200);
  ASSERT_EQ(store_->RemoveUser("kolm"), StoreStatus::kOk);
  EXPECT_EQ(Post(body).status, 401);
  // Added again with another password: the old one no longer works.
  ASSERT_EQ(store_->AddUser("kolm", HashPassword("new", kTestCost)), StoreStatus::kOk);
  EXPECT_EQ(Post(body).status, 401);
  EXPECT_EQ(Post("username=kolm&password=new&longurl=http://example.com/").status, 200);
}

TEST_P(ServiceTest, OtherPathsAndMethods) {
  EXPECT_EQ(Get("/healthz").status, 200);
  const Reply missing = Get("/abcdefg");
  EXPECT_EQ(missing.status, 404);
  EXPECT_NE(missing.body.find("</p>"), std::string::npos);
  EXPECT_EQ(Get("/").status, 404);
  EXPECT_EQ(Get("/a/b").status, 404);
  EXPECT_EQ(Get("/short_url/api/").status, 405);
  EXPECT_EQ(JsonMember(Get("/short_url/api/").body, "short_url"), "");
  EXPECT_EQ(Get("/abcdefg", "DELETE").status, 405);
}

TEST_P(ServiceTest, StorageOutageGives503AndStoresNothing) {
  if (GetParam() == Backend::kSqlite) GTEST_SKIP() << "a local file has no outage to provoke";
  const std::string body = "username=kolm&password=kolm&longurl=http://example.com/";
  testing::PgCluster::Get()->TerminateSessions(database_);
  Reply r = Post(body);
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(JsonMember(r.body, "short_url"), "");
  EXPECT_FALSE(JsonMember(r.body, "msg").empty());
  EXPECT_EQ(store_->CountLinks(), 0);
  // The broken connection is reset before its next use.
  EXPECT_EQ(Post(body).status, 200);
}

TEST_P(ServiceTest, StalledClientsDoNotBlockOthers) {
  Close();
  Open({}, /*threads=*/2);
  // Stalled heads and a stalled body, on more connections than there are threads.
  std::vector<int> stalled;
  for (int i = 0; i < 40; ++i) {
    const int fd = testing::Connect(server_->port());
    ASSERT_GE(fd, 0);
    const std::string part =
        i % 2 ? "POST /short_url/api/ HTTP/1.1\r\nHost: x\r\nContent-Le"
              : ApiRequest("username=kolm&password=kolm&longurl=http").substr(0, 120);
    ASSERT_EQ(send(fd, part.data(), part.size(), MSG_NOSIGNAL), static_cast<ssize_t>(part.size()));
    stalled.push_back(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(
        Post("username=kolm&password=kolm&longurl=http://example.com/" + std::to_string(i)).status,
        200);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  for (int fd : stalled) close(fd);
}

TEST_P(ServiceTest, AThousandConcurrentClientsGetCorrectAnswers) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_GE(limit.rlim_cur, 2200u) << "open-file limit too low for this test";
  // One login first, so that the thousand use the verified account.
  const Reply first = Post("username=kolm&password=kolm&longurl=http://example.com/warm");
  ASSERT_EQ(first.status, 200);
  const std::string warmCode = CodeOf(JsonMember(first.body, "short_url"));
  constexpr int kClients = 1000;
  std::vector<int> fds(kClients, -1);
  std::vector<std::string> replies(kClients);
  std::vector<std::string> requests(kClients);
  for (int i = 0; i < kClients; ++i) {
    // Every fourth client follows the warm-up link; the others shorten an address of their own.
    requests[i] = i % 4 == 0
                      ? GetRequest("/" + warmCode)
                      : ApiRequest("username=kolm&password=kolm&longurl=http://example.com/" +
                                   std::to_string(i));
  }
  for (int i = 0; i < kClients; ++i) {
    fds[i] = testing::Connect(server_->port());
    ASSERT_GE(fds[i], 0) << i;
  }
  for (int i = 0; i < kClients; ++i) {
    ASSERT_EQ(send(fds[i], requests[i].data(), requests[i].size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(requests[i].size()));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int open = kClients;
  std::vector<pollfd> polls;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    polls.clear();
    for (int i = 0; i < kClients; ++i) {
      if (fds[i] >= 0) polls.push_back({fds[i], POLLIN, 0});
    }
    if (poll(polls.data(), polls.size(), 200) <= 0) continue;
    for (const pollfd& p : polls) {
      if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const int i = static_cast<int>(std::find(fds.begin(), fds.end(), p.fd) - fds.begin());
      char buffer[4096];
      const ssize_t n = recv(p.fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        replies[i].append(buffer, static_cast<size_t>(n));
      } else {
        close(p.fd);
        fds[i] = -1;
        --open;
      }
    }
  }
  EXPECT_EQ(open, 0);
  std::set<std::string> codes;
  for (int i = 0; i < kClients; ++i) {
    if (fds[i] >= 0) close(fds[i]);
    const Reply r = testing::ParseReply(replies[i]);
    if (i % 4 == 0) {
      EXPECT_EQ(r.status, 302) << i;
      EXPECT_EQ(r.Header("Location"), "http://example.com/warm") << i;
      continue;
    }
    ASSERT_EQ(r.status, 200) << i << " " << r.body;
    const std::string code = CodeOf(JsonMember(r.body, "short_url"));
    std::string url;
    ASSERT_EQ(store_->Resolve(code, &url), StoreStatus::kOk);
    EXPECT_EQ(url, "http://example.com/" + std::to_string(i));
    codes.insert(code);
  }
  EXPECT_EQ(codes.size(), static_cast<size_t>(kClients - kClients / 4));
  service_->FlushVisits();
  EXPECT_EQ(store_->Visits(warmCode), kClients / 4);
}

INSTANTIATE_TEST_SUITE_P(Storage, ServiceTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres), BackendName);

}  // namespace
}  // namespace quenbrel
