// The Generate action: the short link for the long address, shown in the window.
//
// GenerateShortLink is the clicked handler of the window's 按钮_生成 button. It reads the account,
// the password and the long address, has RequestShortLink post them as a form to the short-link
// service, loads the reply into a JsonDocument of its own and, when the reply loads, appends ":"
// and the reply's "msg" to the caption and writes its "short_url" into 编辑框_result. Nothing is
// checked before sending and no message of the tool's own is shown: a failed request, an empty
// or non-JSON reply, or the value null, leaves the window as it was.
//
// The form is application/x-www-form-urlencoded: "username=", "&password=" and "&longurl=", each
// followed by its value percent-encoded over its code page 936 bytes (EncodeFormValue), so that
// "&", "=", "+", "%", "#" or a space in a long address reach the service as typed and Chinese
// reaches it as its GBK bytes.
//
// The service's reply is run as code in the document's sandboxed script engine (json/): a hostile
// reply is stopped by the engine's bounds and the window answers again afterwards.
//
// Ownership: everything the action makes (texts, bytes, the document and its engine) lives only
// for that one call; nothing outlives a click but what was written into the window.
//
// Threading: runs on the window's thread, which it blocks until it returns. The window neither
// repaints nor reacts meanwhile; a wait cursor is shown for the length of the action. Clicks made
// meanwhile are handled afterwards, each as a new request.
//
// Examples:
//   ShortLinkEndpoint()                     == "http://127.0.0.1:8380/short_url/api/"
//   EncodeFormValue("a b&c=d")              == "a+b%26c%3Dd"
//   EncodeFormValue("\xD6\xD0")             == "%D6%D0"          (中 in code page 936)
//   ShortLinkForm("kolm", "", "http://a/?x=1")
//       == "username=kolm&password=&longurl=http%3A%2F%2Fa%2F%3Fx%3D1"

#ifndef QUENBREL_APP_SHORT_LINK_H_
#define QUENBREL_APP_SHORT_LINK_H_

#include <string_view>

#include "text/text.h"

namespace quenbrel {

class MainWindow;

// The address the form is posted to: "http://" + ServiceHost + "/short_url/api/"
// (app/service_settings.h).
Text ShortLinkEndpoint();

// value percent-encoded for a form body: ASCII letters, digits and "*-._" kept, a space as "+",
// every other byte as "%" and two upper-case hex digits.
Text EncodeFormValue(std::string_view value);

// The form text: "username=" + userName + "&password=" + password + "&longurl=" + longUrl, each
// value encoded by EncodeFormValue; all three keys, in this order, even for empty values.
Text ShortLinkForm(std::string_view userName, std::string_view password, std::string_view longUrl);

// Posts the form to ShortLinkEndpoint (WebAccess: POST, redirects not followed, default headers)
// and returns the reply converted from UTF-8 to local text, up to its first zero byte; empty when
// nothing came back.
Text RequestShortLink(std::string_view userName, std::string_view password,
                      std::string_view longUrl);

// Handles one click of 按钮_生成 on window.
void GenerateShortLink(MainWindow& window);

}  // namespace quenbrel

#endif  // QUENBREL_APP_SHORT_LINK_H_
