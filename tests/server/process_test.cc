// quenbrel-server as a process: its account commands, and no acknowledged link lost on kill -9
// or SIGTERM, on SQLite and on PostgreSQL.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/server/helpers.h"

namespace quenbrel {
namespace {

using testing::ApiRequest;
using testing::Exchange;
using testing::GetRequest;
using testing::JsonMember;
using testing::Reply;

class ProcessTest : public ::testing::TestWithParam<bool> {  // true: PostgreSQL
 protected:
  void SetUp() override {
    if (GetParam()) {
      testing::PgCluster* cluster = testing::PgCluster::Get();
      ASSERT_NE(cluster, nullptr) << testing::PgCluster::error();
      storage_ = {"--database", cluster->NewDatabase()};
    } else {
      dir_ = testing::TempDir();
      storage_ = {"--data", dir_ + "/data"};
    }
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  std::vector<std::string> With(std::vector<std::string> words) {
    words.insert(words.begin(), storage_.begin(), storage_.end());
    return words;
  }
  std::vector<std::string> storage_;
  std::string dir_;
};

TEST_P(ProcessTest, UserCommands) {
  EXPECT_EQ(testing::RunServerCommand(With({"user", "add", "kolm"}), "kolm\n"), 0);
  EXPECT_EQ(testing::RunServerCommand(With({"user", "add", "kolm"}), "again\n"), 1);
  EXPECT_EQ(testing::RunServerCommand(With({"user", "add", "empty"}), ""), 2);
  EXPECT_EQ(testing::RunServerCommand(With({"user", "remove", "nobody"}), ""), 1);

  testing::ServerProcess server;
  ASSERT_TRUE(server.Start(With({})));
  const std::string body = "username=kolm&password=kolm&longurl=http://example.com/";
  EXPECT_EQ(Exchange(server.port(), ApiRequest(body)).status, 200);
  EXPECT_EQ(
      Exchange(server.port(), ApiRequest("username=empty&password=&longurl=http://a.b/")).status,
      400);
  EXPECT_EQ(testing::RunServerCommand(With({"user", "remove", "kolm"}), ""), 0);
  EXPECT_EQ(Exchange(server.port(), ApiRequest(body)).status, 401);
  const int status = server.Signal(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_P(ProcessTest, AcknowledgedLinksSurviveKillAndStop) {
  ASSERT_EQ(testing::RunServerCommand(With({"user", "add", "kolm"}), "kolm\n"), 0);
  for (const int sig : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(sig);
    testing::ServerProcess server;
    ASSERT_TRUE(server.Start(With({})));
    const std::string url = "http://example.com/" + std::to_string(sig);
    const Reply r =
        Exchange(server.port(), ApiRequest("username=kolm&password=kolm&longurl=" + url));
    ASSERT_EQ(r.status, 200) << r.body;
    const std::string shortUrl = JsonMember(r.body, "short_url");
    const int status = server.Signal(sig);
    if (sig == SIGTERM) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    testing::ServerProcess again;
    ASSERT_TRUE(again.Start(With({})));
    const std::string code = shortUrl.substr(shortUrl.rfind('/'));
    const Reply redirect = Exchange(again.port(), GetRequest(code));
    EXPECT_EQ(redirect.status, 302);
    EXPECT_EQ(redirect.Header("Location"), url);
    again.Signal(SIGTERM);
  }
}

INSTANTIATE_TEST_SUITE_P(Storage, ProcessTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

}  // namespace
}  // namespace quenbrel
