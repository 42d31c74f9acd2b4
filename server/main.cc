// quenbrel-server: the short-link service, and its account commands.

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "server/http_server.h"
#include "server/service.h"
#include "server/store.h"

namespace {

constexpr const char kUsage[] =
    "usage: quenbrel-server [options]                 run the service\n"
    "       quenbrel-server [options] user add NAME    add an account; password on stdin\n"
    "       quenbrel-server [options] user remove NAME remove an account\n"
    "options:\n"
    "  --listen HOST:PORT   address to listen on (default 127.0.0.1:8380)\n"
    "  --public-url URL     base of the short links (default http:// + the listen address)\n"
    "  --data DIR           SQLite data folder (default "
    "${XDG_DATA_HOME:-~/.local/share}/quenbrel)\n"
    "  --database URL       use PostgreSQL at URL (postgresql://...) instead of SQLite\n"
    "  --threads N          HTTP worker threads (default 16)\n"
    "  --quiet              no request log\n";

std::string DefaultDataDir() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
    return std::string(xdg) + "/quenbrel";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/share/quenbrel";
}

// The first line of standard input, without its line end; asked for without echo on a terminal.
bool ReadPassword(std::string* password) {
  const bool tty = isatty(STDIN_FILENO);
  termios saved{};
  if (tty) {
    std::fprintf(stderr, "Password: ");
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool ok = static_cast<bool>(std::getline(std::cin, *password));
  if (tty) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return ok || !password->empty();
}

int UserCommand(quenbrel::Store& store, const std::string& verb, const std::string& name) {
  if (name.empty()) {
    std::fprintf(stderr, "quenbrel-server: the account name is empty\n");
    return 2;
  }
  if (verb == "remove") {
    switch (store.RemoveUser(name)) {
      case quenbrel::StoreStatus::kOk:
        std::fprintf(stderr, "quenbrel-server: removed account %s\n", name.c_str());
        return 0;
      case quenbrel::StoreStatus::kNotFound:
        std::fprintf(stderr, "quenbrel-server: no account %s\n", name.c_str());
        return 1;
      default:
        std::fprintf(stderr, "quenbrel-server: storage unavailable\n");
        return 1;
    }
  }
  std::string password;
  if (!ReadPassword(&password) || password.empty()) {
    std::fprintf(stderr, "quenbrel-server: no password given on standard input\n");
    return 2;
  }
  const std::string hash = quenbrel::HashPassword(password);
  if (hash.empty()) {
    std::fprintf(stderr, "quenbrel-server: cannot hash the password\n");
    return 1;
  }
  switch (store.AddUser(name, hash)) {
    case quenbrel::StoreStatus::kOk:
      std::fprintf(stderr, "quenbrel-server: added account %s\n", name.c_str());
      return 0;
    case quenbrel::StoreStatus::kExists:
      std::fprintf(stderr, "quenbrel-server: account %s exists already\n", name.c_str());
      return 1;
    default:
      std::fprintf(stderr, "quenbrel-server: storage unavailable\n");
      return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  quenbrel::HttpServerOptions http;
  quenbrel::StoreOptions storage;
  storage.dataDir = DefaultDataDir();
  std::string publicUrl;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string threads;
    bool ok = true;
    if (arg == "--listen") {
      ok = value(&http.listen);
    } else if (arg == "--public-url") {
      ok = value(&publicUrl);
    } else if (arg == "--data") {
      ok = value(&storage.dataDir);
    } else if (arg == "--database") {
      ok = value(&storage.database);
    } else if (arg == "--threads") {
      ok = value(&threads);
      http.threads = std::atoi(threads.c_str());
      ok = ok && http.threads >= 1 && http.threads <= 256;
    } else if (arg == "--quiet") {
      http.log = false;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      ok = false;
    } else {
      words.push_back(arg);
    }
    if (!ok) {
      std::fprintf(stderr, "quenbrel-server: bad option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  const bool userCommand =
      words.size() == 3 && words[0] == "user" && (words[1] == "add" || words[1] == "remove");
  if (!words.empty() && !userCommand) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  storage.connections = http.threads + 1;

  std::string error;
  std::unique_ptr<quenbrel::Store> store = quenbrel::OpenStore(storage, &error);
  if (!store) {
    std::fprintf(stderr, "quenbrel-server: %s\n", error.c_str());
    return 1;
  }
  if (userCommand) return UserCommand(*store, words[1], words[2]);

  // SIGTERM and SIGINT are taken by sigwait below; every thread started from here on has them
  // blocked, so none of them is interrupted.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<quenbrel::HttpServer> server = quenbrel::HttpServer::Listen(http, &error);
  if (!server) {
    std::fprintf(stderr, "quenbrel-server: %s\n", error.c_str());
    return 1;
  }
  quenbrel::ServiceOptions serviceOptions;
  serviceOptions.publicUrl = publicUrl.empty() ? server->base() : publicUrl;
  while (serviceOptions.publicUrl.size() > 1 && serviceOptions.publicUrl.back() == '/') {
    serviceOptions.publicUrl.pop_back();
  }
  serviceOptions.ownOrigins = {server->base()};
  {
    quenbrel::Service service(*store, serviceOptions);
    if (!server->Serve(service, &error)) {
      std::fprintf(stderr, "quenbrel-server: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "quenbrel-server: listening on %s, short links at %s/\n",
                 server->base().c_str(), serviceOptions.publicUrl.c_str());
    int received = 0;
    sigwait(&stopSignals, &received);
    std::fprintf(stderr, "quenbrel-server: stopping\n");
    server->Stop();
  }  // the service writes its last visit counts here
  std::fprintf(stderr, "quenbrel-server: stopped\n");
  return 0;
}
