#include "server/service.h"

#include <sodium.h>

#include <cstring>
#include <functional>
#include <utility>

namespace quenbrel {
namespace {

constexpr std::string_view kApiPath = "/short_url/api/";
constexpr size_t kMaxKeyword = 64;
constexpr size_t kMaxCacheEntries = 100000;
constexpr size_t kMaxFailureEntries = 100000;

std::string Quote(std::string_view text) { return "\"" + JsonEscape(text) + "\""; }

HttpResponse Json(int status, std::string_view shortUrl, std::string_view msg) {
  HttpResponse r;
  r.status = status;
  r.contentType = "application/json; charset=utf-8";
  r.body = "{\"short_url\":" + Quote(shortUrl) + ",\"msg\":" + Quote(msg) + "}";
  return r;
}

HttpResponse Failure(int status, std::string_view msg) { return Json(status, "", msg); }

HttpResponse Page(int status, std::string_view title, std::string_view text) {
  HttpResponse r;
  r.status = status;
  r.contentType = "text/html; charset=utf-8";
  r.body = "<!doctype html><meta charset=\"utf-8\"><title>" + std::string(title) + "</title><p>" +
           std::string(text) + "</p>\n";
  return r;
}

bool IsCodeChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
         c == '_';
}

bool IsCode(std::string_view code) {
  if (code.empty() || code.size() > kMaxKeyword) return false;
  for (char c : code) {
    if (!IsCodeChar(c)) return false;
  }
  return true;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Tools before percent-encoding sent the long address unescaped, so an address with "&" in its
// query arrives split into extra fields. When a field the API does not know follows "longurl",
// the address is everything after "longurl=", as the raw bytes it was sent as.
std::optional<std::string> RawLongUrl(std::string_view body, const FormFields& fields) {
  bool afterLongUrl = false;
  bool unknownAfter = false;
  for (const auto& [key, value] : fields) {
    if (key == "longurl") {
      afterLongUrl = true;
    } else if (afterLongUrl && key != "username" && key != "password" && key != "keyword") {
      unknownAfter = true;
    }
  }
  if (!unknownAfter) return std::nullopt;
  size_t at = body.find("&longurl=");
  at = at == std::string_view::npos ? (body.substr(0, 8) == "longurl=" ? 0 : at) : at + 1;
  if (at == std::string_view::npos) return std::nullopt;
  return std::string(body.substr(at + 8));
}

}  // namespace

std::string HashPassword(std::string_view password, const PasswordCost& cost) {
  if (sodium_init() < 0) return {};
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), cost.opsLimit, cost.memLimit,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    return {};
  }
  return out;
}

bool VerifyPassword(std::string_view password, const std::string& hash) {
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

LinkCache::LinkCache(size_t capacity) : perShard_(capacity / kShards + 1) {}

bool LinkCache::Find(std::string_view code, std::string* url) {
  Shard& shard = shards_[std::hash<std::string_view>()(code) % kShards];
  std::lock_guard<std::mutex> lock(shard.mutex);
  const auto it = shard.links.find(std::string(code));
  if (it == shard.links.end()) return false;
  *url = it->second;
  return true;
}

void LinkCache::Put(std::string_view code, std::string_view url) {
  Shard& shard = shards_[std::hash<std::string_view>()(code) % kShards];
  std::lock_guard<std::mutex> lock(shard.mutex);
  if (shard.links.size() >= perShard_) shard.links.clear();
  shard.links.emplace(code, url);
}

Service::Service(Store& store, ServiceOptions options)
    : store_(store), options_(std::move(options)), links_(options_.linkCacheSize) {
  if (sodium_init() < 0) std::memset(cacheKey_, 0, sizeof cacheKey_);
  randombytes_buf(cacheKey_, sizeof cacheKey_);
  if (std::optional<Origin> o = OriginOf(options_.publicUrl)) origins_.push_back(*o);
  for (const std::string& base : options_.ownOrigins) {
    if (std::optional<Origin> o = OriginOf(base)) origins_.push_back(*o);
  }
  dummyHash_ = HashPassword("quenbrel: no such account", options_.accountCost);
  flusher_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(visitMutex_);
    while (!stopping_) {
      visitCv_.wait_for(lock, options_.visitFlushInterval);
      lock.unlock();
      FlushVisits();
      lock.lock();
    }
  });
}

Service::~Service() {
  {
    std::lock_guard<std::mutex> lock(visitMutex_);
    stopping_ = true;
  }
  visitCv_.notify_all();
  flusher_.join();
  FlushVisits();
}

void Service::FlushVisits() {
  std::unordered_map<std::string, int64_t> pending;
  {
    std::lock_guard<std::mutex> lock(visitMutex_);
    pending.swap(visits_);
  }
  std::unordered_map<std::string, int64_t> failed;
  for (const auto& [code, count] : pending) {
    if (store_.AddVisits(code, count) != StoreStatus::kOk) failed.emplace(code, count);
  }
  if (failed.empty()) return;
  // Keep what could not be written for the next flush.
  std::lock_guard<std::mutex> lock(visitMutex_);
  for (const auto& [code, count] : failed) visits_[code] += count;
}

HttpResponse Service::Handle(const HttpRequest& request) {
  const std::string_view path = request.path;
  if (path == kApiPath || path == kApiPath.substr(0, kApiPath.size() - 1)) {
    if (request.method != "POST") {
      HttpResponse r = Failure(405, "请用 POST 提交");
      return r;
    }
    return Shorten(request);
  }
  const bool read = request.method == "GET" || request.method == "HEAD";
  if (path == "/healthz") {
    if (!read) return Page(405, "405", "Method Not Allowed");
    HttpResponse r;
    r.status = store_.Healthy() ? 200 : 503;
    r.contentType = "text/plain; charset=utf-8";
    r.body = r.status == 200 ? "ok\n" : "storage unavailable\n";
    return r;
  }
  if (path.size() > 1 && path.front() == '/' && IsCode(path.substr(1))) {
    if (!read) return Page(405, "405", "Method Not Allowed");
    return Redirect(request.method, path.substr(1));
  }
  return Page(404, "404", "短链接不存在");
}

HttpResponse Service::Redirect(std::string_view, std::string_view code) {
  std::string url;
  const bool cached = links_.Find(code, &url);
  switch (cached ? StoreStatus::kOk : store_.Resolve(code, &url)) {
    case StoreStatus::kOk:
      if (!cached) links_.Put(code, url);
      break;
    case StoreStatus::kNotFound:
      return Page(404, "404", "短链接不存在");
    default:
      return Page(503, "503", "存储暂时不可用，请稍后再试");
  }
  {
    std::lock_guard<std::mutex> lock(visitMutex_);
    ++visits_[std::string(code)];
  }
  HttpResponse r;
  r.status = 302;
  r.location = EncodeForLocation(url);
  r.contentType = "text/plain; charset=utf-8";
  return r;
}

HttpResponse Service::Shorten(const HttpRequest& request) {
  if (request.bodyTooLarge) return Failure(413, "请求内容超过 64 KB");
  std::optional<FormFields> fields = DecodeForm(request.body);
  if (!fields) return Failure(400, "请求中有无效的百分号编码");
  const BodyCharset charset = CharsetOf(request.contentType);
  const char* badCharset =
      charset == BodyCharset::kUtf8 ? "请求内容不是有效的 UTF-8" : "请求内容不是有效的 GBK 编码";

  // Each value as UTF-8, after a strict check of its bytes.
  std::optional<std::string> values[4];
  static constexpr const char* kNames[4] = {"username", "password", "longurl", "keyword"};
  for (int i = 0; i < 4; ++i) {
    std::optional<std::string> raw = FindField(*fields, kNames[i]);
    if (i == 2) {
      if (std::optional<std::string> legacy = RawLongUrl(request.body, *fields)) raw = legacy;
    }
    if (!raw) continue;
    values[i] = ToUtf8(*raw, charset);
    if (!values[i]) return Failure(400, badCharset);
  }
  for (int i = 0; i < 3; ++i) {
    if (!values[i] || values[i]->empty()) {
      return Failure(400, std::string("缺少字段：") + kNames[i]);
    }
  }
  const std::string& name = *values[0];
  const std::string& password = *values[1];
  const std::string longUrl(TrimSpaces(*values[2]));
  const std::string keyword = values[3].value_or("");

  if (const int status = CheckAccount(name, password, request.clientAddress); status != 0) {
    if (status == 429) return Failure(429, "登录失败次数过多，请稍后再试");
    if (status == 503) return Failure(503, "存储暂时不可用，请稍后再试");
    return Failure(401, "用户名或密码错误");
  }
  if (std::string reason = CheckLongUrl(longUrl, origins_); !reason.empty()) {
    return Failure(400, reason);
  }
  if (!keyword.empty() && (!IsCode(keyword) || keyword == "healthz" || keyword == "short_url")) {
    return Failure(400, "自定义短码只能由字母、数字、- 和 _ 组成，最多 64 个字符");
  }
  const ShortenResult result = store_.Shorten(name, longUrl, keyword);
  switch (result.status) {
    case StoreStatus::kOk:
      return Json(200, options_.publicUrl + "/" + result.code,
                  result.created ? "生成成功" : "生成成功（已有的短链接）");
    case StoreStatus::kTaken:
      return Failure(400, "自定义短码已被占用");
    default:
      return Failure(503, "存储暂时不可用，请稍后再试");
  }
}

bool Service::Locked(std::string_view client) {
  std::lock_guard<std::mutex> lock(accountMutex_);
  const auto it = failures_.find(std::string(client));
  if (it == failures_.end()) return false;
  if (std::chrono::steady_clock::now() - it->second.windowStart >= options_.failureWindow) {
    failures_.erase(it);
    return false;
  }
  return it->second.count >= options_.maxFailedLogins;
}

void Service::RecordFailure(std::string_view client) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(accountMutex_);
  if (failures_.size() >= kMaxFailureEntries) {
    std::erase_if(failures_, [&](const auto& f) {
      return now - f.second.windowStart >= options_.failureWindow;
    });
  }
  Failures& f = failures_[std::string(client)];
  if (f.count == 0 || now - f.windowStart >= options_.failureWindow) {
    f.count = 0;
    f.windowStart = now;
  }
  ++f.count;
}

int Service::CheckAccount(std::string_view name, std::string_view password,
                          std::string_view client) {
  if (Locked(client)) return 429;
  StoredUser user;
  const StoreStatus found = store_.FindUser(name, &user);
  if (found == StoreStatus::kUnavailable) return 503;
  if (found == StoreStatus::kNotFound) {
    VerifyPassword(password, dummyHash_);
    RecordFailure(client);
    return 401;
  }
  // The cache key binds the name, the password and the stored hash: lengths first, so that no
  // two different triples run together into the same bytes.
  crypto_generichash_state state;
  crypto_generichash_init(&state, cacheKey_, sizeof cacheKey_, 32);
  for (std::string_view part : {name, password, std::string_view(user.hash)}) {
    const uint64_t length = part.size();
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&length),
                              sizeof length);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(part.data()),
                              part.size());
  }
  unsigned char digest[32];
  crypto_generichash_final(&state, digest, sizeof digest);
  const std::string key(reinterpret_cast<const char*>(digest), sizeof digest);
  const auto now = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(accountMutex_);
  if (const auto it = verified_.find(key); it != verified_.end()) {
    if (now < it->second) return 0;
    verified_.erase(it);
  }
  // Requests that arrive while the same credentials are being verified wait for that one
  // verification instead of each paying for their own.
  if (const auto it = inflight_.find(key); it != inflight_.end()) {
    const std::shared_ptr<Verification> pending = it->second;
    inflightCv_.wait(lock, [&] { return pending->done; });
    if (pending->ok) return 0;
    lock.unlock();
    RecordFailure(client);
    return 401;
  }
  auto pending = std::make_shared<Verification>();
  inflight_.emplace(key, pending);
  lock.unlock();
  const bool ok = VerifyPassword(password, user.hash);
  lock.lock();
  pending->done = true;
  pending->ok = ok;
  inflight_.erase(key);
  inflightCv_.notify_all();
  if (!ok) {
    lock.unlock();
    RecordFailure(client);
    return 401;
  }
  if (verified_.size() >= kMaxCacheEntries) {
    std::erase_if(verified_, [&](const auto& v) { return now >= v.second; });
    if (verified_.size() >= kMaxCacheEntries) verified_.clear();
  }
  verified_[key] = now + options_.credentialTtl;
  return 0;
}

}  // namespace quenbrel
