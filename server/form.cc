#include "server/form.h"

#include <cstdint>

#include "charset/codepage.h"

namespace quenbrel {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> PercentDecode(std::string_view piece) {
  std::string out;
  out.reserve(piece.size());
  for (size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= piece.size()) return std::nullopt;
      const int hi = HexValue(piece[i + 1]);
      const int lo = HexValue(piece[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(s[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

struct ParsedUrl {
  std::string scheme;  // lower case
  std::string host;    // lower case, brackets removed
  int port = 0;
};

// Splits "scheme://[userinfo@]host[:port][/?#...]"; nullopt when the shape is wrong.
std::optional<ParsedUrl> ParseUrl(std::string_view url) {
  const size_t colon = url.find("://");
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  ParsedUrl parsed;
  parsed.scheme = Lower(url.substr(0, colon));
  std::string_view rest = url.substr(colon + 3);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#\\"));
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    port = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!port.empty() && port.front() != ':') return std::nullopt;
    if (!port.empty()) port.remove_prefix(1);
  } else if (const size_t c = host.rfind(':'); c != std::string_view::npos) {
    port = host.substr(c + 1);
    host = host.substr(0, c);
  }
  if (host.empty()) return std::nullopt;
  parsed.host = Lower(host);
  while (!parsed.host.empty() && parsed.host.back() == '.') parsed.host.pop_back();
  if (parsed.host.empty()) return std::nullopt;
  if (port.empty()) {
    parsed.port = parsed.scheme == "https" ? 443 : 80;
  } else {
    if (port.size() > 5) return std::nullopt;
    int value = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    if (value > 65535) return std::nullopt;
    parsed.port = value;
  }
  return parsed;
}

bool IsLoopbackAlias(std::string_view host) {
  return host == "localhost" || host == "0.0.0.0" || host == "::" || host == "::1" ||
         host.substr(0, 4) == "127.";
}

}  // namespace

std::optional<FormFields> DecodeForm(std::string_view body) {
  FormFields fields;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view piece = body.substr(start, end - start);
    if (!piece.empty()) {
      const size_t eq = piece.find('=');
      std::optional<std::string> name = PercentDecode(piece.substr(0, eq));
      std::optional<std::string> value =
          PercentDecode(eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1));
      if (!name || !value) return std::nullopt;
      fields.emplace_back(std::move(*name), std::move(*value));
    }
    start = end + 1;
  }
  return fields;
}

std::optional<std::string> FindField(const FormFields& fields, std::string_view name) {
  for (const auto& [key, value] : fields) {
    if (key == name) return value;
  }
  return std::nullopt;
}

BodyCharset CharsetOf(std::string_view contentType) {
  const std::string lower = Lower(contentType);
  size_t pos = lower.find("charset");
  while (pos != std::string::npos) {
    size_t i = pos + 7;
    while (i < lower.size() && lower[i] == ' ') ++i;
    if (i < lower.size() && lower[i] == '=') {
      ++i;
      while (i < lower.size() && (lower[i] == ' ' || lower[i] == '"')) ++i;
      const std::string_view value = std::string_view(lower).substr(i);
      if (value.substr(0, 5) == "utf-8" || value.substr(0, 4) == "utf8") {
        return BodyCharset::kUtf8;
      }
      return BodyCharset::kGbk;
    }
    pos = lower.find("charset", pos + 7);
  }
  return BodyCharset::kGbk;
}

bool IsValidGbk(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    if (b < 0x80 || b == 0x80) continue;
    if (b == 0xFF || i + 1 >= bytes.size()) return false;
    const auto t = static_cast<uint8_t>(bytes[i + 1]);
    if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
    ++i;
  }
  return true;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int length;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (int k = 1; k < length; ++k) {
      const auto c = static_cast<uint8_t>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

std::optional<std::string> ToUtf8(std::string_view bytes, BodyCharset charset) {
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  if (charset == BodyCharset::kUtf8) {
    if (!IsValidUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  if (!IsValidGbk(bytes)) return std::nullopt;
  bool ascii = true;
  for (char c : bytes) ascii = ascii && static_cast<uint8_t>(c) < 0x80;
  if (ascii) return std::string(bytes);
  std::string utf8 = LocalToUtf8(bytes);
  if (utf8.empty()) return std::nullopt;  // the converter could not be opened
  return utf8;
}

std::optional<Origin> OriginOf(std::string_view base) {
  std::optional<ParsedUrl> parsed = ParseUrl(base);
  if (!parsed || (parsed->scheme != "http" && parsed->scheme != "https")) return std::nullopt;
  return Origin{parsed->host, parsed->port};
}

std::string CheckLongUrl(std::string_view url, const std::vector<Origin>& ownOrigins) {
  if (url.empty()) return "网址不能为空";
  if (url.size() > kMaxLongUrlBytes) return "网址太长（最多 8 KB）";
  for (size_t i = 0; i < url.size(); ++i) {
    const auto b = static_cast<uint8_t>(url[i]);
    const bool c1 = b == 0xC2 && i + 1 < url.size() && static_cast<uint8_t>(url[i + 1]) >= 0x80 &&
                    static_cast<uint8_t>(url[i + 1]) <= 0x9F;
    if (b < 0x20 || b == 0x7F || c1) return "网址中不能有控制字符";
  }
  if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
    return "只支持 http 和 https 网址";
  }
  std::optional<ParsedUrl> parsed = ParseUrl(url);
  if (!parsed) return "网址中没有有效的主机名";
  for (char c : parsed->host) {
    if (c == ' ' || c == '<' || c == '>' || c == '"' || c == '%' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}') {
      return "网址中没有有效的主机名";
    }
  }
  for (const Origin& own : ownOrigins) {
    const bool sameHost =
        parsed->host == own.host || (IsLoopbackAlias(parsed->host) && IsLoopbackAlias(own.host));
    if (sameHost && parsed->port == own.port) return "不能缩短本服务自己的网址";
  }
  return {};
}

std::string EncodeForLocation(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (size_t i = 0; i < url.size(); ++i) {
    const char c = url[i];
    const auto b = static_cast<uint8_t>(c);
    // A "%" that starts no escape stands for itself, so it is written as "%25".
    const bool loosePercent =
        c == '%' && (i + 2 >= url.size() || HexValue(url[i + 1]) < 0 || HexValue(url[i + 2]) < 0);
    if (loosePercent || b >= 0x80 || b <= 0x20 || b == 0x7F || c == '"' || c == '<' || c == '>' ||
        c == '\\' || c == '^' || c == '`' || c == '{' || c == '|' || c == '}') {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string JsonEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto b = static_cast<uint8_t>(c);
    // U+2028 and U+2029 end a line in older script engines, and "<" could close a script tag:
    // both are written as escapes so that the reply is safe wherever it is evaluated.
    if (b == 0xE2 && text.substr(i + 1, 1) == "\x80" &&
        (text.substr(i + 2, 1) == "\xA8" || text.substr(i + 2, 1) == "\xA9")) {
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (c == '<') {
      out += "\\u003c";
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (b < 0x20 || b == 0x7F) {
      out += "\\u00";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace quenbrel
