// The window on Qt's offscreen platform, driven with mouse and key events through the window
// system interface as a user's would arrive.

#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/help_settings.h"
#include "app/short_link_testing.h"
#include "tests/app/qt_environment.h"
#include "tests/common/loopback.h"

// Readable failure messages for the Qt values compared below.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
void PrintTo(const QRect& r, std::ostream* out) {
  *out << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}
void PrintTo(const QPoint& p, std::ostream* out) { *out << p.x() << "," << p.y(); }
void PrintTo(const QSize& s, std::ostream* out) { *out << s.width() << "x" << s.height(); }
void PrintTo(const QColor& c, std::ostream* out) { *out << c.name().toStdString(); }

namespace quenbrel {
namespace {

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Where the desktop was asked to open links, in order.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls.append(url); }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<MainWindow>();
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  template <typename Control = QWidget>
  Control* Find(std::string_view name) const {
    return window_->findChild<Control*>(Utf8(name), Qt::FindDirectChildrenOnly);
  }

  // The centre of the named control, or a point of the client area, in window coordinates.
  QPoint At(std::string_view name) const { return Find(name)->geometry().center(); }

  QWindow* Handle() const { return window_->windowHandle(); }

  std::unique_ptr<MainWindow> window_;
};

// The controls as they are to be: stored order, kind, place and size, initial text.
struct ExpectedControl {
  const char* name;
  const char* kind;
  QRect geometry;
  QString text;
};

std::vector<ExpectedControl> ExpectedControls() {
  const QString help = QStringLiteral("帮助QQ") + Utf8(HelpContactNumber);
  return {
      {"标签5", "QLabel", {28, 187, 112, 24}, help},
      {"标签4", "QLabel", {22, 108, 72, 24}, QStringLiteral("待生成网址：")},
      {"编辑框_longurl", "QLineEdit", {106, 111, 234, 20}, ""},
      {"按钮_生成", "QPushButton", {195, 182, 104, 32}, QStringLiteral("生成")},
      {"标签3", "QLabel", {20, 150, 72, 24}, QStringLiteral("生成结果：")},
      {"标签2", "QLabel", {66, 71, 40, 24}, QStringLiteral("密码:")},
      {"标签1", "QLabel", {64, 31, 48, 24}, QStringLiteral("用户名:")},
      {"编辑框_result", "QLineEdit", {107, 153, 234, 20}, ""},
      {"编辑框_password", "QLineEdit", {120, 72, 152, 20}, "kolm"},
      {"编辑框_username", "QLineEdit", {120, 32, 152, 20}, "kolm"},
  };
}

QString TextOf(const QWidget* control) {
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text();
  if (auto* button = qobject_cast<const QPushButton*>(control)) return button->text();
  return QStringLiteral("<not a control>");
}

TEST_F(MainWindowTest, ControlsAreTheTableInStoredOrder) {
  std::vector<QWidget*> children;
  for (QObject* child : window_->children()) {
    if (child->isWidgetType()) children.push_back(static_cast<QWidget*>(child));
  }
  const std::vector<ExpectedControl> expected = ExpectedControls();
  ASSERT_EQ(children.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    const QWidget* control = children[i];
    EXPECT_EQ(control->objectName(), Utf8(expected[i].name));
    EXPECT_STREQ(control->metaObject()->className(), expected[i].kind);
    EXPECT_EQ(control->geometry(), expected[i].geometry);
    EXPECT_EQ(TextOf(control), expected[i].text);
    EXPECT_TRUE(control->isVisible());
  }
}

TEST_F(MainWindowTest, TextColours) {
  const QColor green(0, 128, 0);
  for (const char* name : {"标签1", "标签2", "标签3", "标签4", "标签5"}) {
    SCOPED_TRACE(name);
    const QColor colour = std::string_view(name) == "标签5" ? green : QColor(Qt::black);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
      EXPECT_EQ(Find(name)->palette().color(group, QPalette::WindowText), colour);
    }
  }
  for (const char* name :
       {"编辑框_longurl", "编辑框_result", "编辑框_password", "编辑框_username"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Find(name)->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(Find(name)->palette().color(QPalette::Base), QColor(Qt::white));
  }

  // The help label's text is drawn green: every pixel that differs from the background is a blend
  // of the background grey and green, and some are close to pure green.
  const QImage image = Find("标签5")->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QColor background = image.pixelColor(image.width() - 1, image.height() - 1);
  int inked = 0;
  int strong = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (pixel == background) continue;
      ++inked;
      EXPECT_LE(std::abs(pixel.red() - pixel.blue()), 3) << x << "," << y;
      EXPECT_GT(pixel.green(), pixel.red()) << x << "," << y;
      if (pixel.green() - pixel.red() > 64) ++strong;
    }
  }
  EXPECT_GT(inked, 0);
  EXPECT_GT(strong, 0);
}

TEST_F(MainWindowTest, FixedFrameWithCloseAndMinimiseOnly) {
  EXPECT_EQ(window_->windowTitle(), "Quenbrel");
  EXPECT_EQ(Handle()->title(), "Quenbrel");
  EXPECT_EQ(window_->parentWidget(), nullptr);
  EXPECT_FALSE(window_->isModal());

  EXPECT_EQ(window_->windowType(), Qt::Window);
  EXPECT_EQ(Handle()->type(), Qt::Window);
  for (Qt::WindowFlags flags : {window_->windowFlags(), Handle()->flags()}) {
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(flags.testFlag(Qt::FramelessWindowHint));
  }

  // The size cannot change, not even when asked.
  const QSize size = window_->size();
  EXPECT_EQ(window_->minimumSize(), size);
  EXPECT_EQ(window_->maximumSize(), size);
  EXPECT_EQ(Handle()->minimumSize(), size);
  EXPECT_EQ(Handle()->maximumSize(), size);
  window_->resize(size + QSize(100, 80));
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->size(), size);

  // It can be minimised and restored.
  window_->showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->isMinimized());
  window_->showNormal();
  QCoreApplication::processEvents();
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_EQ(window_->size(), size);
}

// Run once on the default offscreen screen (whose windows have a small frame) and once on a
// primary screen away from the origin, of odd width, without frames (see CMakeLists.txt).
using MainWindowPlacementTest = MainWindowTest;

TEST_F(MainWindowPlacementTest, OuterSizeCentredOnPrimaryScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QRect frame = window_->frameGeometry();
  EXPECT_EQ(frame.size(), QSize(380, 250));
  EXPECT_EQ(frame.topLeft(), QPoint(screen.x() + (screen.width() - 380) / 2,
                                    screen.y() + (screen.height() - 250) / 2))
      << "screen " << screen.x() << "," << screen.y() << " " << screen.width() << "x"
      << screen.height();
  // The client area is what the frame leaves.
  const QMargins margins = Handle()->frameMargins();
  EXPECT_EQ(window_->geometry(), frame.marginsRemoved(margins));
  EXPECT_EQ(Handle()->frameGeometry(), frame);

  // The window can be moved, and stays where it is put.
  const QPoint elsewhere = screen.topLeft() + QPoint(7, 9);
  window_->move(elsewhere);
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->frameGeometry(), QRect(elsewhere, QSize(380, 250)));
}

// The frame changes a window manager makes, played on the offscreen platform: its frame goes when
// the window is made frameless and comes back when it is framed again, each reported only by the
// platform restating the window's unchanged state and exposing it; full screen drops the frame and
// restores the normal geometry afterwards; a theme change arrives as an event of its own. Each time
// the outer size stays 380 x 250 and the frame stays where it was last moved to.
TEST_F(MainWindowTest, FrameChangesKeepOuterSizeAndPlace) {
  const QSize outer(380, 250);
  const QMargins framed(2, 2, 2, 2);
  ASSERT_EQ(Handle()->frameMargins(), framed);
  // The offscreen platform decides the frame anew when the window's state is set.
  const Qt::WindowFlags flags = Handle()->flags();
  auto reframe = [&](bool frameless) {
    Handle()->setFlags(frameless ? flags | Qt::FramelessWindowHint : flags);
    Handle()->setWindowStates(Qt::WindowNoState);
  };
  QPoint place = Handle()->framePosition() + QPoint(-90, 40);
  Handle()->setFramePosition(place);  // dragged away from the centre
  QCoreApplication::processEvents();
  ASSERT_EQ(Handle()->frameGeometry(), QRect(place, outer));

  reframe(true);
  QCoreApplication::processEvents();
  EXPECT_EQ(Handle()->frameMargins(), QMargins());
  EXPECT_EQ(Handle()->frameGeometry(), QRect(place, outer)) << "un-decorated";
  EXPECT_EQ(window_->size(), outer);

  reframe(false);
  QCoreApplication::processEvents();
  EXPECT_EQ(Handle()->frameMargins(), framed);
  EXPECT_EQ(Handle()->frameGeometry(), QRect(place, outer)) << "decorated again";
  EXPECT_EQ(window_->geometry(), QRect(place, outer).marginsRemoved(framed));

  // Full screen belongs to the window manager: the window leaves it alone, then comes back.
  Handle()->setWindowStates(Qt::WindowFullScreen);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->isFullScreen());
  EXPECT_EQ(Handle()->geometry(), QGuiApplication::primaryScreen()->geometry());
  Handle()->setWindowStates(Qt::WindowNoState);
  QCoreApplication::processEvents();
  EXPECT_FALSE(window_->isFullScreen());
  EXPECT_EQ(Handle()->frameGeometry(), QRect(place, outer)) << "after full screen";

  // A theme change is enough by itself to refit, before the platform reports anything else.
  place += QPoint(25, -15);
  Handle()->setFramePosition(place);
  QCoreApplication::processEvents();
  reframe(true);
  QEvent theme(QEvent::ThemeChange);
  QCoreApplication::sendEvent(window_.get(), &theme);
  EXPECT_EQ(Handle()->frameGeometry(), QRect(place, outer)) << "theme change";
  QCoreApplication::processEvents();
  reframe(false);
  QCoreApplication::processEvents();
  EXPECT_EQ(Handle()->frameGeometry(), QRect(place, outer)) << "theme change back";

  // And the next move lands where it is put, without a jump back to the centre.
  place += QPoint(10, 10);
  Handle()->setFramePosition(place);
  QCoreApplication::processEvents();
  EXPECT_EQ(Handle()->frameGeometry(), QRect(place, outer));
  EXPECT_EQ(window_->frameGeometry(), QRect(place, outer));
}

TEST_F(MainWindowTest, LeftPressOnHelpLabelOpensChatEveryTime) {
  UrlRecorder recorder;
  const QString scheme = QUrl(Utf8(HelpChatLink)).scheme();
  QDesktopServices::setUrlHandler(scheme, &recorder, "Open");
  const QPoint help = At("标签5");

  QTest::mousePress(Handle(), Qt::LeftButton, {}, help);
  ASSERT_EQ(recorder.urls.size(), 1) << "opens on the press, before the release";
  EXPECT_EQ(recorder.urls[0].toString(), Utf8(HelpChatLink));
  QTest::mouseRelease(Handle(), Qt::LeftButton, {}, help);
  EXPECT_EQ(recorder.urls.size(), 1);

  QTest::mouseClick(Handle(), Qt::LeftButton, {}, help);
  EXPECT_EQ(recorder.urls.size(), 2);

  // The second press of a double click is a press too.
  QTest::mouseDClick(Handle(), Qt::LeftButton, {}, help);
  EXPECT_EQ(recorder.urls.size(), 4);

  // Other buttons, and presses elsewhere, do nothing.
  for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
    QTest::mouseClick(Handle(), button, {}, help);
  }
  for (const char* name : {"标签4", "标签1", "编辑框_longurl", "按钮_生成"}) {
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, At(name));
  }
  QTest::mouseClick(Handle(), Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseClick(Handle(), Qt::LeftButton, {},
                    Find("标签5")->geometry().topLeft() - QPoint(2, 2));
  EXPECT_EQ(recorder.urls.size(), 4);
  for (const QUrl& url : recorder.urls) EXPECT_EQ(url.toString(), Utf8(HelpChatLink));

  // With nothing to open the link, the press is ignored quietly.
  QDesktopServices::unsetUrlHandler(scheme);
  QTest::mouseClick(Handle(), Qt::LeftButton, {}, help);
  EXPECT_EQ(recorder.urls.size(), 4);
  EXPECT_TRUE(window_->isVisible());
}

TEST(HelpSettingsTest, ChatLinkCarriesContactNumber) {
  const QUrl link(Utf8(HelpChatLink));
  EXPECT_TRUE(link.isValid());
  EXPECT_EQ(QUrlQuery(link).queryItemValue("uin"), Utf8(HelpContactNumber));
  EXPECT_FALSE(HelpContactNumber.empty());
}

TEST_F(MainWindowTest, EditBoxesAreAlikeAndShowTextInClear) {
  for (const char* name :
       {"编辑框_longurl", "编辑框_result", "编辑框_password", "编辑框_username"}) {
    SCOPED_TRACE(name);
    QLineEdit* edit = Find<QLineEdit>(name);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);
    EXPECT_TRUE(edit->hasFrame());
    EXPECT_FALSE(edit->isReadOnly());
    EXPECT_TRUE(edit->inputMask().isEmpty());
    EXPECT_EQ(edit->validator(), nullptr);

    edit->clear();
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, At(name));
    QTest::keyClicks(edit, "Se cret&=%");
    EXPECT_EQ(edit->text(), "Se cret&=%");
    EXPECT_EQ(edit->displayText(), "Se cret&=%");
  }

  // No length limit: a long address arrives whole.
  const Text long_url = "http://example.com/?q=" + std::string(100000, 'x');
  ASSERT_TRUE(SetEditText(*window_, "编辑框_longurl", long_url));
  EXPECT_EQ(GetEditText(*window_, "编辑框_longurl"), long_url);
}

TEST_F(MainWindowTest, TextsByNameAreCodePage936) {
  // "你好 " in code page 936, then an address with the characters a form treats specially.
  const Text text = "\xC4\xE3\xBA\xC3 http://a.cn/?x=1&y=%20+";
  ASSERT_TRUE(SetEditText(*window_, "编辑框_longurl", text));
  EXPECT_EQ(Find<QLineEdit>("编辑框_longurl")->text(),
            QStringLiteral("你好 http://a.cn/?x=1&y=%20+"));
  EXPECT_EQ(GetEditText(*window_, "编辑框_longurl"), text);

  // Typed by the user, read as code page 936.
  Find<QLineEdit>("编辑框_result")->setText(QStringLiteral("短网址"));
  EXPECT_EQ(GetEditText(*window_, "编辑框_result"), "\xB6\xCC\xCD\xF8\xD6\xB7");

  EXPECT_EQ(GetEditText(*window_, "编辑框_username"), "kolm");
  EXPECT_TRUE(SetEditText(*window_, "编辑框_username", ""));
  EXPECT_EQ(GetEditText(*window_, "编辑框_username"), "");

  // Only edit boxes have texts by name.
  for (const char* name : {"标签1", "按钮_生成", "编辑框_nothing", "", "编辑框_LONGURL"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(SetEditText(*window_, name, "x"));
    EXPECT_EQ(GetEditText(*window_, name), "");
  }
  EXPECT_EQ(TextOf(Find("标签1")), QStringLiteral("用户名:"));
}

TEST_F(MainWindowTest, CaptionIsCodePage936AndShownAsSet) {
  EXPECT_EQ(GetCaption(*window_), "Quenbrel");
  // "Quenbrel:成功"
  SetCaption(*window_, "Quenbrel:\xB3\xC9\xB9\xA6");
  EXPECT_EQ(Handle()->title(), QStringLiteral("Quenbrel:成功"));
  EXPECT_EQ(GetCaption(*window_), "Quenbrel:\xB3\xC9\xB9\xA6");

  // Qt's modified-mark placeholder has no meaning here: the caption shows as set.
  for (const char* caption : {"a[*]b", "[*][*]", "[*]*][*", "[[*]]"}) {
    SCOPED_TRACE(caption);
    SetCaption(*window_, caption);
    EXPECT_EQ(Handle()->title(), caption);
    EXPECT_EQ(GetCaption(*window_), caption);
  }
  SetCaption(*window_, "");
  EXPECT_EQ(GetCaption(*window_), "");
}

// With no service listening, a click sends its request, gets nothing back and leaves the window
// as it was. (The click's effects with a service behind it are tested with the action itself.)
TEST_F(MainWindowTest, GenerateClickWithoutServiceChangesNothingVisible) {
  SetServiceHostForTesting("127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()));
  SetEditText(*window_, "编辑框_longurl", "http://example.com/a");
  const QWidgetList windows_before = QApplication::topLevelWidgets();
  QSignalSpy clicks(Find<QPushButton>("按钮_生成"), &QPushButton::clicked);

  QTest::mouseClick(Handle(), Qt::LeftButton, {}, At("按钮_生成"));
  QCoreApplication::processEvents();

  EXPECT_EQ(clicks.size(), 1);
  EXPECT_EQ(GetCaption(*window_), "Quenbrel");
  EXPECT_EQ(GetEditText(*window_, "编辑框_username"), "kolm");
  EXPECT_EQ(GetEditText(*window_, "编辑框_password"), "kolm");
  EXPECT_EQ(GetEditText(*window_, "编辑框_longurl"), "http://example.com/a");
  EXPECT_EQ(GetEditText(*window_, "编辑框_result"), "");
  EXPECT_EQ(QApplication::topLevelWidgets(), windows_before);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  SetServiceHostForTesting("");
}

TEST_F(MainWindowTest, NewWindowShowsPrefilledValuesAgain) {
  for (const char* name :
       {"编辑框_longurl", "编辑框_result", "编辑框_password", "编辑框_username"}) {
    SetEditText(*window_, name, "changed");
  }
  SetCaption(*window_, "Quenbrel:msg");
  window_->close();
  window_.reset();

  MainWindow again;
  EXPECT_EQ(GetEditText(again, "编辑框_username"), "kolm");
  EXPECT_EQ(GetEditText(again, "编辑框_password"), "kolm");
  EXPECT_EQ(GetEditText(again, "编辑框_longurl"), "");
  EXPECT_EQ(GetEditText(again, "编辑框_result"), "");
  EXPECT_EQ(GetCaption(again), "Quenbrel");
}

TEST(StartUpTest, ShowsOneWindowAndTheProgramEndsWhenItCloses) {
  ASSERT_TRUE(QApplication::topLevelWidgets().isEmpty());
  StartUp();
  const QWidgetList windows = QApplication::topLevelWidgets();
  ASSERT_EQ(windows.size(), 1);
  QPointer<QWidget> window = windows[0];
  ASSERT_NE(dynamic_cast<MainWindow*>(window.data()), nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->parentWidget(), nullptr);

  // The event loop, as the program runs it, ends once the window is closed; the second timer only
  // bounds the wait should it not.
  QSignalSpy last_closed(qApp, &QGuiApplication::lastWindowClosed);
  QTimer::singleShot(0, window, [window] { window->close(); });
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  limit.start(5000);
  EXPECT_EQ(QApplication::exec(), 0) << "still running after 5 s";
  EXPECT_EQ(last_closed.size(), 1);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull()) << "the closed window deletes itself";
}

}  // namespace
}  // namespace quenbrel

#include "main_window_test.moc"
