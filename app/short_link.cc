// The Generate action.

#include "app/short_link.h"

#include <QGuiApplication>

#include "app/main_window.h"
#include "app/service_settings.h"
#include "app/short_link_testing.h"
#include "charset/charset.h"
#include "json/json_document.h"
#include "net/web_access.h"

namespace quenbrel {
namespace {

// The host set by SetServiceHostForTesting; empty: ServiceHost.
Text& HostOverride() {
  static Text host;
  return host;
}

bool KeptInForm(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
         c == '-' || c == '.' || c == '_';
}

// The wait cursor for the length of one action; the previous cursor comes back however the
// action ends.
class WaitCursor {
 public:
  WaitCursor() : shown_(qGuiApp != nullptr) {
    if (shown_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~WaitCursor() {
    if (shown_) QGuiApplication::restoreOverrideCursor();
  }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  bool shown_;
};

}  // namespace

void SetServiceHostForTesting(std::string_view host) { HostOverride() = Text(host); }

Text ShortLinkEndpoint() {
  const std::string_view host = HostOverride().empty() ? ServiceHost : HostOverride();
  return ConcatTexts("http://", host, "/short_url/api/");
}

Text EncodeFormValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Text out;
  out.reserve(value.size());
  for (const char byte : value) {
    const auto c = static_cast<unsigned char>(byte);
    if (KeptInForm(c)) {
      out += byte;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

Text ShortLinkForm(std::string_view userName, std::string_view password, std::string_view longUrl) {
  return ConcatTexts("username=", EncodeFormValue(userName),
                     "&password=", EncodeFormValue(password),
                     "&longurl=", EncodeFormValue(longUrl));
}

Text RequestShortLink(std::string_view userName, std::string_view password,
                      std::string_view longUrl) {
  const Text address = ShortLinkEndpoint();
  const Text form = ShortLinkForm(userName, password, longUrl);
  const Bytes responseBytes =
      WebAccess(address, {.method = 1, .body = form, .noRedirect = true, .mergeCookies = true});
  const Bytes converted = ConvertCharset(responseBytes);
  return ToText(converted);
}

void GenerateShortLink(MainWindow& window) {
  const WaitCursor waitCursor;
  JsonDocument document;
  Text reply;
  {
    const Text userName = GetEditText(window, "编辑框_username");
    const Text password = GetEditText(window, "编辑框_password");
    const Text longUrl = GetEditText(window, "编辑框_longurl");
    reply = RequestShortLink(userName, password, longUrl);
  }
  if (document.Parse(reply)) {
    const Text shortLink = document.GetText("short_url");
    const Text message = document.GetText("msg");
    SetCaption(window, ConcatTexts(GetCaption(window), ":", message));
    SetEditText(window, "编辑框_result", shortLink);
  }
  document.Destroy();
}

}  // namespace quenbrel
