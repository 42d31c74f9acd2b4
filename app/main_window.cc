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
  FitToFrame();
}

MainWindow::~MainWindow() = default;

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
  return QWidget::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitToFrame();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  FitToFrame();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitToFrame();
}

void MainWindow::FitToFrame() {
  // The frame is known once the platform window exists, and under X11 once the window manager has
  // framed the window; until then, and on platforms without frames, it counts as none.
  const QWindow* handle = windowHandle();
  const QMargins frame = handle != nullptr ? handle->frameMargins() : QMargins();
  if (fitted_frame_ == frame) return;
  fitted_frame_ = frame;
  setFixedSize(std::max(1, kWindowOuterWidth - frame.left() - frame.right()),
               std::max(1, kWindowOuterHeight - frame.top() - frame.bottom()));
  // A top-level window's position is that of its frame.
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - kWindowOuterWidth) / 2,
         area.y() + (area.height() - kWindowOuterHeight) / 2);
  }
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
