// Test helpers for the service: a raw HTTP client, a throw-away PostgreSQL cluster and child
// processes of quenbrel-server.

#ifndef QUENBREL_TESTS_SERVER_HELPERS_H_
#define QUENBREL_TESTS_SERVER_HELPERS_H_

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quenbrel::testing {

struct Reply {
  int status = 0;  // 0: no reply
  std::string head;
  std::string body;
  // The value of header name (case-insensitive), empty when absent.
  std::string Header(std::string_view name) const;
};

// Connects to 127.0.0.1:port, or -1.
int Connect(int port);
// Sends request as it is and reads until the server closes; status 0 on failure or time-out.
Reply Exchange(int port, std::string_view request,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Parses a complete response.
Reply ParseReply(std::string_view raw);
// A POST of body to the API, with the tool's content type unless another is given.
std::string ApiRequest(std::string_view body,
                       std::string_view contentType = "application/x-www-form-urlencoded");
// A GET or HEAD of path.
std::string GetRequest(std::string_view path, std::string_view method = "GET");
// The string member name of a JSON object written by the service, unescaped; "<absent>" when
// there is none.
std::string JsonMember(std::string_view json, std::string_view name);

// A PostgreSQL cluster for the whole test binary, started on first use (initdb and pg_ctl, as
// an unprivileged user when the tests run as root) and stopped at exit.
class PgCluster {
 public:
  // The running cluster, or nullptr when it could not be started (see error()).
  static PgCluster* Get();
  static const std::string& error();
  // A new, empty database and its URL.
  std::string NewDatabase();
  // Ends every session of the database at url except the caller's.
  void TerminateSessions(const std::string& url);
  void Stop();

 private:
  std::string dir_;
  int port_ = 0;
  int databases_ = 0;
};

// A quenbrel-server child process.
class ServerProcess {
 public:
  ~ServerProcess();
  // Starts the binary with args and "--listen 127.0.0.1:0", and waits for its listen line.
  bool Start(const std::vector<std::string>& args);
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Sends sig and waits for the exit; the exit status as waitpid gives it.
  int Signal(int sig);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string log_dir_;
};

// Runs the binary with args, feeding input on stdin; its exit code (-1 when it did not run).
int RunServerCommand(const std::vector<std::string>& args, std::string_view input);

// A fresh temporary folder.
std::string TempDir();

}  // namespace quenbrel::testing

#endif  // QUENBREL_TESTS_SERVER_HELPERS_H_
