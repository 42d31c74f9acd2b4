// Fuzzes the service's request handler with arbitrary request heads and form bodies.
//
// Input: one control byte (method, client address, token expansion), then up to three texts
// separated by zero bytes: the path, the Content-Type and the body. With expansion on, the bytes
// 01 to 08 stand for pieces the handler looks for (the account's fields, schemes, keywords,
// percent escapes), so that short inputs reach the storage and the redirects.
// Checks that every answer is well-formed: API answers are JSON objects with "short_url" and
// "msg" and a status the API names, a 200 names a link that resolves to a valid address, and
// a redirect's Location holds no byte that could split or confuse a header.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "server/form.h"
#include "server/service.h"
#include "server/store.h"

namespace quenbrel {
namespace {

constexpr std::string_view kTokens[] = {"username=kolm&password=kolm&longurl=",
                                        "http://",
                                        "https://",
                                        "&keyword=",
                                        "/short_url/api/",
                                        "%D6%D0",
                                        "charset=utf-8",
                                        "javascript:"};

constexpr const char* kMethods[] = {"POST", "GET", "HEAD", "PUT", "DELETE", "OPTIONS", "", "post"};

std::string Expand(std::string_view text, bool expand) {
  if (!expand) return std::string(text);
  std::string out;
  for (char c : text) {
    if (c >= 1 && c <= 8) {
      out += kTokens[c - 1];
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct World {
  std::unique_ptr<Store> store;
  std::unique_ptr<Service> service;
};

// A store in a private folder (in memory where /dev/shm exists), one account, one service.
World& TheWorld() {
  static World* world = [] {
    char dir[] = "/dev/shm/quenbrel-fuzz-XXXXXX";
    char fallback[] = "/tmp/quenbrel-fuzz-XXXXXX";
    const char* made = mkdtemp(dir);
    if (made == nullptr) made = mkdtemp(fallback);
    if (made == nullptr) std::abort();
    auto* w = new World;
    std::string error;
    StoreOptions storage;
    storage.dataDir = made;
    w->store = OpenStore(storage, &error);
    if (!w->store) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    const PasswordCost cheap{.opsLimit = 1, .memLimit = 8192};
    w->store->AddUser("kolm", HashPassword("kolm", cheap));
    ServiceOptions options;
    options.publicUrl = "http://s.example";
    options.ownOrigins = {"http://127.0.0.1:8380"};
    options.accountCost = cheap;
    w->service = std::make_unique<Service>(*w->store, options);
    return w;
  }();
  return *world;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace
}  // namespace quenbrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quenbrel;
  if (size == 0) return 0;
  World& world = TheWorld();
  const uint8_t control = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string parts[3];
  for (int i = 0; i < 3; ++i) {
    const size_t zero = rest.find('\0');
    parts[i] = Expand(rest.substr(0, zero), control & 0x80);
    if (zero == std::string_view::npos) {
      rest = {};
    } else {
      rest.remove_prefix(zero + 1);
    }
  }
  const std::string client = "10.0.0." + std::to_string((control >> 3) & 0x0F);
  HttpRequest request{
      .method = kMethods[control & 7],
      .path = parts[0],
      .contentType = parts[1],
      .body = parts[2],
      .bodyTooLarge = parts[2].size() > kMaxBodyBytes,
      .clientAddress = client,
  };
  const HttpResponse response = world.service->Handle(request);

  const bool api = parts[0] == "/short_url/api/" || parts[0] == "/short_url/api";
  if (api) {
    Check(response.contentType == "application/json; charset=utf-8", "API content type");
    Check(IsValidUtf8(response.body), "API body is UTF-8");
    for (char c : response.body) Check(static_cast<unsigned char>(c) >= 0x20, "no control byte");
    const int s = response.status;
    Check(s == 200 || s == 400 || s == 401 || s == 405 || s == 413 || s == 429 || s == 503,
          "API status");
    const std::string prefix =
        s == 200 ? "{\"short_url\":\"http://s.example/" : "{\"short_url\":\"\"";
    Check(response.body.compare(0, prefix.size(), prefix) == 0, "short_url first");
    Check(response.body.find(",\"msg\":\"") != std::string::npos, "msg present");
    if (s == 200) {
      const size_t start = prefix.size();
      const std::string code = response.body.substr(start, response.body.find('"', start) - start);
      std::string url;
      Check(world.store->Resolve(code, &url) == StoreStatus::kOk, "the new link resolves");
      Check(CheckLongUrl(url, {}).empty(), "stored address is valid");
    }
  } else if (response.status == 302) {
    Check(!response.location.empty(), "Location given");
    for (char c : response.location) {
      const auto b = static_cast<unsigned char>(c);
      Check(b > 0x20 && b < 0x7F, "Location is printable ASCII");
    }
  } else {
    const int s = response.status;
    Check(s == 200 || s == 404 || s == 405 || s == 503, "page status");
  }
  return 0;
}
