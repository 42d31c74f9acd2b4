// The Generate action on Qt's offscreen platform, clicked with the mouse: against scripted replies
// from a service in this process, and against quenbrel-server run as a child process.

#include "app/short_link.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/short_link_testing.h"
#include "net/web_access.h"
#include "tests/app/qt_environment.h"
#include "tests/app/scripted_service.h"

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace quenbrel {
namespace {

using testing::BodyOf;
using testing::HttpReply;
using testing::ScriptedService;

const char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// A reply of the service's kind.
std::string Json(const std::string& json) { return HttpReply("200 OK", json); }

// form decoded the way a form-reading service decodes it, field by field; "+" is a space.
std::vector<std::pair<std::string, std::string>> DecodeFormBody(const std::string& form) {
  auto unescape = [](const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '+') {
        out += ' ';
      } else if (s[i] == '%' && i + 2 < s.size()) {
        out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += s[i];
      }
    }
    return out;
  };
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t start = 0;
  while (start <= form.size()) {
    std::size_t end = form.find('&', start);
    if (end == std::string::npos) end = form.size();
    const std::string piece = form.substr(start, end - start);
    const std::size_t eq = piece.find('=');
    fields.emplace_back(unescape(piece.substr(0, eq)),
                        eq == std::string::npos ? "" : unescape(piece.substr(eq + 1)));
    start = end + 1;
  }
  return fields;
}

QString Qs(const char* utf8) { return QString::fromUtf8(utf8); }

class ShortLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<MainWindow>();
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override { SetServiceHostForTesting({}); }

  QLineEdit* Edit(const char* name) const {
    return window_->findChild<QLineEdit*>(Qs(name), Qt::FindDirectChildrenOnly);
  }
  // A left-button click on 按钮_生成 as the window system delivers it.
  void ClickGenerate() {
    auto* button = window_->findChild<QPushButton*>(Qs("按钮_生成"));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(window_->windowHandle(), Qt::LeftButton, {}, button->geometry().center());
  }
  void Fill(const char* user, const char* password, const char* longUrl) {
    Edit("编辑框_username")->setText(Qs(user));
    Edit("编辑框_password")->setText(Qs(password));
    Edit("编辑框_longurl")->setText(Qs(longUrl));
  }
  QString Caption() const { return window_->windowTitle(); }
  QString Result() const { return Edit("编辑框_result")->text(); }

  std::unique_ptr<MainWindow> window_;
};

TEST(EncodeFormValueTest, KeepsUnreservedAndEncodesEveryOtherByte) {
  const struct {
    std::string value;
    std::string encoded;
  } cases[] = {
      {"", ""},
      {"azAZ09*-._", "azAZ09*-._"},
      {" ", "+"},
      {"a b&c=d+e%f#g", "a+b%26c%3Dd%2Be%25f%23g"},
      {"http://h/p?q=1;x~y", "http%3A%2F%2Fh%2Fp%3Fq%3D1%3Bx%7Ey"},
      {"\xD6\xD0\xCE\xC4", "%D6%D0%CE%C4"},  // 中文 in code page 936
      {"\x01\x7F\x80\xFF", "%01%7F%80%FF"},
      {"\r\n\t", "%0D%0A%09"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeFormValue(c.value), c.encoded) << c.value;
  EXPECT_EQ(ShortLinkForm("", "", ""), "username=&password=&longurl=");
  EXPECT_EQ(ShortLinkForm("a&password=b", "=", "%"),
            "username=a%26password%3Db&password=%3D&longurl=%25");
}

TEST(ShortLinkEndpointTest, BuiltInHostAndTheTestHost) {
  EXPECT_EQ(ShortLinkEndpoint(), "http://127.0.0.1:8380/short_url/api/");
  SetServiceHostForTesting("127.0.0.1:1");
  EXPECT_EQ(ShortLinkEndpoint(), "http://127.0.0.1:1/short_url/api/");
  SetServiceHostForTesting({});
  EXPECT_EQ(ShortLinkEndpoint(), "http://127.0.0.1:8380/short_url/api/");
}

// The request on the wire: verb, path, header lines in their order, and the encoded body.
TEST_F(ShortLinkTest, SendsExactlyOneFormPost) {
  ScriptedService service([](int, const std::string&) { return Json(R"({"short_url":"s"})"); });
  SetServiceHostForTesting(service.host());
  Edit("编辑框_longurl")->setText("http://example.com/a b?x=1&y=2+3%4#top");
  ClickGenerate();

  const std::string body =
      "username=kolm&password=kolm&longurl=" +
      std::string("http%3A%2F%2Fexample.com%2Fa+b%3Fx%3D1%26y%3D2%2B3%254%23top");
  const std::string endpoint = "http://" + service.host() + "/short_url/api/";
  ASSERT_EQ(service.requests().size(), 1u);
  EXPECT_EQ(service.requests()[0],
            "POST /short_url/api/ HTTP/1.1\r\n"
            "Host: " +
                service.host() +
                "\r\n"
                "User-Agent: " +
                kUserAgent +
                "\r\n"
                "Accept: */*\r\n"
                "Referer: " +
                endpoint +
                "\r\n"
                "Accept-Language: zh-cn\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: " +
                std::to_string(body.size()) +
                "\r\n"
                "\r\n" +
                body);
}

// Empty boxes still send all three keys; Chinese in every box arrives as its GBK bytes, and a long
// address with a query string, fragment and spaces decodes to exactly what was typed.
TEST_F(ShortLinkTest, BoxesArriveAsTypedInCodePage936) {
  ScriptedService service([](int, const std::string&) { return Json("{}"); });
  SetServiceHostForTesting(service.host());
  std::string longUrl = "http://例子.cn/路径?q=中文&a=1+2&b=%41 c=d&e==#frag";
  while (longUrl.size() < 6000) longUrl += "&k" + std::to_string(longUrl.size()) + "=v%26w";
  const struct {
    const char* user;
    const char* password;
    std::string longUrl;
    std::vector<std::pair<std::string, std::string>> fields;  // code page 936
  } cases[] = {
      {"", "", "", {{"username", ""}, {"password", ""}, {"longurl", ""}}},
      {"用户",
       "密码",
       "http://例子.cn/",
       {{"username", "\xD3\xC3\xBB\xA7"},
        {"password", "\xC3\xDC\xC2\xEB"},
        {"longurl", "http://\xC0\xFD\xD7\xD3.cn/"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user);
    Fill(c.user, c.password, c.longUrl.c_str());
    ClickGenerate();
    EXPECT_EQ(DecodeFormBody(BodyOf(service.requests().back())), c.fields);
  }
  EXPECT_EQ(BodyOf(service.requests()[0]), "username=&password=&longurl=");
  EXPECT_EQ(BodyOf(service.requests()[1]),
            "username=%D3%C3%BB%A7&password=%C3%DC%C2%EB&longurl=http%3A%2F%2F%C0%FD%D7%D3.cn%2F");

  Fill("kolm", "kolm", longUrl.c_str());
  ClickGenerate();
  const auto fields = DecodeFormBody(BodyOf(service.requests().back()));
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[2].first, "longurl");
  EXPECT_EQ(fields[2].second, GetEditText(*window_, "编辑框_longurl"));
  EXPECT_GT(fields[2].second.size(), 6000u - 20);
}

// Every way a click can end, one click each, on a window whose result box holds "old".
TEST_F(ShortLinkTest, FailuresAndOddRepliesTable) {
  const std::string redirect =
      HttpReply("302 Found", "<a href=\"/x\">moved</a>", "Location: http://127.0.0.1:1/x\r\n");
  const struct {
    const char* what;
    std::optional<std::string> reply;  // nullopt: nothing listens
    bool changed;                      // caption and result box written
    QString result;
    QString captionTail;
  } cases[] = {
      {"no connection", std::nullopt, false, "", ""},
      {"closed without a reply", "", false, "", ""},
      {"HTML error page 404",
       HttpReply("404 Not Found", "<html><body>404</body></html>", "Content-Type: text/html\r\n"),
       false, "", ""},
      {"HTML error page 500",
       HttpReply("500 Internal Server Error", "<h1>oops</h1>", "Content-Type: text/html\r\n"),
       false, "", ""},
      {"empty body", Json(""), false, "", ""},
      {"redirect, not followed", redirect, false, "", ""},
      {"null", Json("null"), false, "", ""},
      {"undefined", Json("undefined"), false, "", ""},
      {"not JSON at all", Json("short_url=x&msg=y"), false, "", ""},
      {"a number", Json("42"), true, "", ":"},
      // The reply's value is evaluated once more, so a string counts as the code it holds.
      {"a string", Json(R"("'text'")"), true, "", ":"},
      {"a string that is no code", Json(R"("text")"), false, "", ""},
      {"no short_url", Json(R"({"msg":"ok"})"), true, "", ":ok"},
      {"short_url null", Json(R"({"short_url":null,"msg":"ok"})"), true, "", ":ok"},
      {"no msg", Json(R"({"short_url":"http://s/1"})"), true, "http://s/1", ":"},
      {"msg null", Json(R"({"short_url":"http://s/1","msg":null})"), true, "http://s/1", ":"},
      {"numbers", Json(R"({"short_url":12345,"msg":0.5})"), true, "12345", ":0.5"},
      {"Chinese message in UTF-8", Json(R"({"short_url":"http://s/中","msg":"生成成功"})"), true,
       Qs("http://s/中"), Qs(":生成成功")},
      {"byte-order mark first", Json("\xEF\xBB\xBF{\"short_url\":\"b\",\"msg\":\"m\"}"), true, "b",
       ":m"},
      {"cut at a zero byte", Json(std::string("{\"short_url\":\"z\"}\0trailing junk", 31)), true,
       "z", ":"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<ScriptedService> service;
    if (c.reply) {
      service.emplace([&c](int, const std::string&) { return *c.reply; });
      SetServiceHostForTesting(service->host());
    } else {
      const int closed = ScriptedService([](int, const std::string&) { return ""; }).port();
      SetServiceHostForTesting("127.0.0.1:" + std::to_string(closed));
    }
    window_->setWindowTitle("Quenbrel");
    Edit("编辑框_result")->setText("old");
    ClickGenerate();
    EXPECT_EQ(Caption(), c.changed ? "Quenbrel" + c.captionTail : QString("Quenbrel"));
    EXPECT_EQ(Result(), c.changed ? c.result : QString("old"));
    if (service) {
      EXPECT_EQ(service->requests().size(), 1u);
    }
  }
}

// An address that cannot be opened sends nothing and changes nothing.
TEST_F(ShortLinkTest, BadServiceHostChangesNothing) {
  SetServiceHostForTesting("127.0.0.1:70000");
  Edit("编辑框_result")->setText("old");
  ClickGenerate();
  EXPECT_EQ(Caption(), "Quenbrel");
  EXPECT_EQ(Result(), "old");
}

// Each successful click appends its message; what the user typed in the result box is replaced.
TEST_F(ShortLinkTest, TwoClicksGrowTheCaption) {
  ScriptedService service([](int index, const std::string&) {
    return Json(index == 0 ? R"({"short_url":"http://s/1","msg":"first"})"
                           : R"({"short_url":"http://s/2","msg":"第二"})");
  });
  SetServiceHostForTesting(service.host());
  QTest::keyClicks(Edit("编辑框_result"), "typed by the user");
  ClickGenerate();
  EXPECT_EQ(Caption(), "Quenbrel:first");
  EXPECT_EQ(Result(), "http://s/1");
  ClickGenerate();
  EXPECT_EQ(Caption(), Qs("Quenbrel:first:第二"));
  EXPECT_EQ(Result(), "http://s/2");
  EXPECT_EQ(service.requests().size(), 2u);
}

// The wait cursor is up while the request runs and gone afterwards; nothing queued for the
// window runs before the click's action has ended.
TEST_F(ShortLinkTest, WaitCursorAndBlockedWindowDuringTheRequest) {
  std::atomic<int> shapeDuringRequest{-1};
  std::atomic<bool> queuedRan{false};
  std::atomic<bool> queuedRanDuringClick{false};
  MainWindow* window = window_.get();
  ScriptedService service([&](int, const std::string&) {
    // The window's thread is blocked in the request, so reading its cursor here is safe.
    const QCursor* cursor = QGuiApplication::overrideCursor();
    shapeDuringRequest = cursor != nullptr ? cursor->shape() : -2;
    QMetaObject::invokeMethod(
        window,
        [&] {
          queuedRan = true;
          queuedRanDuringClick = QGuiApplication::overrideCursor() != nullptr;
        },
        Qt::QueuedConnection);
    return Json(R"({"short_url":"s","msg":"m"})");
  });
  SetServiceHostForTesting(service.host());
  ClickGenerate();
  EXPECT_EQ(shapeDuringRequest.load(), Qt::WaitCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  QCoreApplication::processEvents();
  EXPECT_TRUE(queuedRan.load());
  EXPECT_FALSE(queuedRanDuringClick.load());
}

// A click that arrives while a request runs waits for it, then makes a complete request of its
// own (handled inside the first, it would finish first and write its message first).
TEST_F(ShortLinkTest, ClickDuringTheRequestRunsAfterIt) {
  auto* button = window_->findChild<QPushButton*>(Qs("按钮_生成"));
  const QPointF centre(button->width() / 2.0, button->height() / 2.0);
  ScriptedService service([&](int index, const std::string&) {
    if (index == 0) {
      for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            button,
            new QMouseEvent(type, centre, button->mapToGlobal(centre), Qt::LeftButton,
                            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                            Qt::NoModifier));
      }
    }
    return Json(R"({"short_url":"s)" + std::to_string(index) + R"(","msg":")" +
                std::to_string(index) + "\"}");
  });
  SetServiceHostForTesting(service.host());
  ClickGenerate();
  QCoreApplication::processEvents();
  EXPECT_EQ(service.requests().size(), 2u);
  EXPECT_EQ(Caption(), "Quenbrel:0:1");
  EXPECT_EQ(Result(), "s1");
}

// Replies that never end or eat memory are stopped by the script sandbox; the window is left as
// it was and the next click works.
TEST_F(ShortLinkTest, HostileRepliesLeaveTheWindowUsable) {
  const std::string hostile[] = {
      "while(1){}",
      "(function(){var s='abcdefgh',k=[];while(1){try{s=s+s;k.push(s.indexOf('z'))}"
      "catch(e){}}})()",
      "(function(){var a=[];while(1)a.push({x:a.length,y:[1,2,3]})})()",
  };
  for (const std::string& code : hostile) {
    SCOPED_TRACE(code);
    ScriptedService service([&](int index, const std::string&) {
      return Json(index == 0 ? code : R"({"short_url":"after","msg":"ok"})");
    });
    SetServiceHostForTesting(service.host());
    window_->setWindowTitle("Quenbrel");
    Edit("编辑框_result")->setText("old");
    const auto start = std::chrono::steady_clock::now();
    ClickGenerate();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(15));  // the bound is CPU time; allow for a busy machine
    EXPECT_EQ(Caption(), "Quenbrel");
    EXPECT_EQ(Result(), "old");
    ClickGenerate();
    EXPECT_EQ(Caption(), "Quenbrel:ok");
    EXPECT_EQ(Result(), "after");
  }
}

// ---- against quenbrel-server

// The status code and Location of a GET of url, redirects not followed.
std::pair<int, std::string> Visit(const std::string& url) {
  Text head;
  WebAccess(url, {.responseHeaders = &head, .noRedirect = true});
  const int status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
  std::string location;
  if (const std::size_t at = head.find("\r\nLocation: "); at != std::string::npos) {
    location = head.substr(at + 12, head.find("\r\n", at + 12) - at - 12);
  }
  return {status, location};
}

class RealServiceTest : public ShortLinkTest {
 protected:
  void SetUp() override {
    ShortLinkTest::SetUp();
    ASSERT_TRUE(service_.AddUser("kolm", "kolm"));
    ASSERT_TRUE(service_.AddUser("用户", "密码 &=%"));
    ASSERT_TRUE(service_.Start());
    SetServiceHostForTesting(service_.host());
  }
  testing::ServiceProcess service_{QUENBREL_SERVER_BINARY};
};

TEST_F(RealServiceTest, ClickGivesALinkThatRedirectsToTheLongAddress) {
  const std::string longUrl = "http://example.com/search?q=a&b=c+d%20e#part";
  Edit("编辑框_longurl")->setText(QString::fromStdString(longUrl));
  ClickGenerate();
  const QString link = Result();
  EXPECT_TRUE(link.startsWith(QString::fromStdString("http://" + service_.host() + "/")))
      << link.toStdString();
  EXPECT_EQ(Caption(), Qs("Quenbrel:生成成功"));
  EXPECT_EQ(Visit(link.toStdString()), std::make_pair(302, longUrl));

  // Chinese account, password with form characters, and a Chinese address.
  Fill("用户", "密码 &=%", "http://例子.cn/路径?q=中文");
  ClickGenerate();
  EXPECT_EQ(Caption(), Qs("Quenbrel:生成成功:生成成功"));
  EXPECT_EQ(Visit(Result().toStdString()),
            std::make_pair(302, std::string("http://%E4%BE%8B%E5%AD%90.cn/%E8%B7%AF%E5%BE%84?q="
                                            "%E4%B8%AD%E6%96%87")));
}

TEST_F(RealServiceTest, WrongPasswordShowsTheServiceMessage) {
  Edit("编辑框_password")->setText("wrong");
  Edit("编辑框_longurl")->setText("http://example.com/");
  Edit("编辑框_result")->setText("old");
  ClickGenerate();
  EXPECT_EQ(Caption(), Qs("Quenbrel:用户名或密码错误"));
  EXPECT_EQ(Result(), "");
}

}  // namespace
}  // namespace quenbrel
