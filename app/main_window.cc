// The tool's window, start-up and the help label.

#include "app/main_window.h"

#include <QColor>
#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <limits>
#include <string>

#include "app/help_settings.h"
#include "app/short_link.h"
#include "charset/codepage.h"

namespace quenbrel {
namespace {

#include "app/window_icon.inc"

constexpr QLatin1String kTitleMark("[*]");
constexpr QLatin1String kDoubledTitleMark("[*][*]");

QString FromUtf8(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString FromLocal(std::string_view text) {
  const std::u16string units = LocalToUtf16(text);
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

Text ToLocal(const QString& text) {
  return Utf16ToLocal(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size()));
}

// The icon from the pixels embedded at build time; no image file is read or decoded.
QIcon WindowIcon() {
  const QImage image(reinterpret_cast<const uchar*>(kWindowIconPixels), kWindowIconSize,
                     kWindowIconSize, QImage::Format_ARGB32);
  return QIcon(QPixmap::fromImage(image));
}

QColor ToColour(std::uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Makes the control of row as a child of window, with its name, place, text and colours.
QWidget* MakeControl(const ControlRow& row, QWidget* window) {
  QString text = FromUtf8(row.text);
  if (row.name == kHelpLabelName) text += FromUtf8(HelpContactNumber);

  QWidget* control = nullptr;
  QPalette::ColorRole text_role = QPalette::WindowText;
  switch (row.kind) {
    case ControlKind::kLabel: {
      auto* label = new QLabel(window);
      label->setTextFormat(Qt::PlainText);
      label->setText(text);
      control = label;
      break;
    }
    case ControlKind::kEditBox: {
      // Single line, framed, editable, shown in clear, with no length limit.
      auto* edit = new QLineEdit(window);
      edit->setMaxLength(std::numeric_limits<int>::max());
      edit->setText(text);
      QPalette palette = edit->palette();
      palette.setColor(QPalette::Base, Qt::white);
      edit->setPalette(palette);
      text_role = QPalette::Text;
      control = edit;
      break;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(text, window);
      button->setAutoDefault(false);
      text_role = QPalette::ButtonText;
      control = button;
      break;
    }
  }
  control->setObjectName(FromUtf8(row.name));
  control->setGeometry(row.left, row.top, row.width, row.height);
  if (row.colour.has_value()) {
    QPalette palette = control->palette();
    palette.setColor(text_role, ToColour(*row.colour));
    control->setPalette(palette);
  }
  return control;
}

// The events after which the frame may have changed: the window was made or shown, moved or
// resized, changed state, or was repainted after the window manager redrew its frame.
bool MayChangeFrame(QEvent::Type type) {
  switch (type) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Expose:
    case QEvent::PlatformSurface:
    case QEvent::WinIdChange:
    case QEvent::WindowStateChange:
    case QEvent::ThemeChange:
    case QEvent::StyleChange:
    case QEvent::ScreenChangeInternal:
      return true;
    default:
      return false;
  }
}

QLineEdit* FindEditBox(const MainWindow& window, std::string_view name) {
  return window.findChild<QLineEdit*>(FromUtf8(name), Qt::FindDirectChildrenOnly);
}

}  // namespace

MainWindow::MainWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint) {
  setWindowTitle(FromUtf8(kWindowCaption));
  setWindowIcon(WindowIcon());
  for (const ControlRow& row : kControls) {
    QWidget* control = MakeControl(row, this);
    if (row.name == kHelpLabelName) {
      help_label_ = static_cast<QLabel*>(control);
      help_label_->installEventFilter(this);
    } else if (row.kind == ControlKind::kButton) {
      QObject::connect(static_cast<QPushButton*>(control), &QPushButton::clicked, this,
                       [this] { GenerateShortLink(*this); });
    }
  }
  // The window opens with its frame centred on the primary screen; after that the frame stays
  // where the user puts it.
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
    const QRect area = screen->geometry();
    place_ = QPoint(area.x() + (area.width() - kWindowOuterWidth) / 2,
                    area.y() + (area.height() - kWindowOuterHeight) / 2);
  }
  FitToFrame();
}

MainWindow::~MainWindow() = default;

bool MainWindow::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  if (MayChangeFrame(event->type())) FitToFrame();
  return handled;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Every press of the left button on the help label opens the chat. The second press of a double
  // click arrives as a double-click event instead of a press, and opens it too. The release and
  // the other buttons do nothing.
  const bool press =
      event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
  if (watched == help_label_ && press &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    OpenHelpChat();
    return true;
  }
  // The platform window's own events (exposure, surface changes) never reach the widget; the
  // check waits until the platform has handled them.
  if (watched == watched_window_ && MayChangeFrame(event->type())) QueueFitToFrame();
  return QWidget::eventFilter(watched, event);
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  // Under X11 a window manager announces a new frame by changing a property of the window
  // (_NET_FRAME_EXTENTS), which Qt turns into no event of its own; it reads the new frame only
  // after this hook returns, so the check waits. Byte 0 of an X event is its code, with the top
  // bit marking events sent by another client; 28 is PropertyNotify.
  constexpr unsigned char kPropertyNotify = 28;
  if (eventType == "xcb_generic_event_t" && message != nullptr &&
      (*static_cast<const unsigned char*>(message) & 0x7F) == kPropertyNotify) {
    QueueFitToFrame();
  }
  return QWidget::nativeEvent(eventType, message, result);
}

void MainWindow::QueueFitToFrame() {
  if (fit_queued_) return;
  fit_queued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        fit_queued_ = false;
        FitToFrame();
      },
      Qt::QueuedConnection);
}

void MainWindow::FitToFrame() {
  if (fitting_) return;  // the resize and move below come back here as events
  QWindow* handle = windowHandle();
  if (handle != watched_window_) {
    if (handle != nullptr) handle->installEventFilter(this);
    watched_window_ = handle;
  }
  // The platform window learns of a new state before the widget does, in either direction.
  const Qt::WindowStates states =
      windowState() | (handle != nullptr ? handle->windowStates() : Qt::WindowStates());
  if (states & (Qt::WindowFullScreen | Qt::WindowMaximized | Qt::WindowMinimized)) {
    fitted_frame_.reset();  // fitted and put back in place once the state ends
    return;
  }
  // The frame is known once the platform window exists, and under X11 once the window manager has
  // framed the window; until then, and on platforms without frames, it counts as none.
  const QMargins frame = handle != nullptr ? handle->frameMargins() : QMargins();
  if (fitted_frame_ == frame) {
    // Same frame: a move is the user's (or the window manager's placing), and the place to keep.
    if (handle != nullptr && isVisible()) place_ = handle->framePosition();
    return;
  }
  fitting_ = true;
  fitted_frame_ = frame;
  const QSize client(std::max(1, kWindowOuterWidth - frame.left() - frame.right()),
                     std::max(1, kWindowOuterHeight - frame.top() - frame.bottom()));
  setFixedSize(client);
  if (handle == nullptr) {
    move(place_);  // a top-level window's position is that of its frame
  } else {
    // Placed by the client area, from the frame just read rather than one Qt may have cached.
    setGeometry(QRect(place_ + QPoint(frame.left(), frame.top()), client));
  }
  fitting_ = false;
}

void StartUp() {
  auto* window = new MainWindow;
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
}

void OpenHelpChat() { QDesktopServices::openUrl(QUrl(FromUtf8(HelpChatLink))); }

Text GetEditText(const MainWindow& window, std::string_view name) {
  const QLineEdit* edit = FindEditBox(window, name);
  return edit != nullptr ? ToLocal(edit->text()) : Text();
}

bool SetEditText(MainWindow& window, std::string_view name, std::string_view text) {
  QLineEdit* edit = FindEditBox(window, name);
  if (edit == nullptr) return false;
  edit->setText(FromLocal(text));
  return true;
}

// Qt treats "[*]" in a window title as the place of the modified mark and drops it from the title
// shown; a doubled "[*][*]" shows as "[*]". Captions are stored with every "[*]" doubled, so that
// the title shown is exactly the caption set.
Text GetCaption(const MainWindow& window) {
  return ToLocal(window.windowTitle().replace(kDoubledTitleMark, kTitleMark));
}

void SetCaption(MainWindow& window, std::string_view text) {
  window.setWindowTitle(FromLocal(text).replace(kTitleMark, kDoubledTitleMark));
}

}  // namespace quenbrel
