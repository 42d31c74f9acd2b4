// The tool's window: its controls, start-up, the help label and access to its texts by name.
//
// MainWindow is a top-level window captioned "Quenbrel" whose outer size, frame and title bar
// included, is 380 x 250 pixels: the client area is what remains once the window manager reports
// its frame (a platform without a frame gives the whole 380 x 250 to the client area). The window
// opens centred on the primary screen by that outer size, cannot be resized or maximised, can be
// minimised and moved, and never stays on top. Whenever the window manager changes the frame
// (decorations off or on, a new theme, the end of full screen), the client area is fitted again
// and the frame's top-left corner stays where the user last put it; the window is centred only
// when it is first shown. While it is full screen, maximised or minimised, its size is left to
// the window manager.
//
// Its controls come from kControls, made in the table's order; each control's object name is its
// name in the table, and the control texts are those of the table every time a window is made.
//
// Texts cross between the window and the rest of the tool as code page 936 Text. They are
// converted only when they are read or written (through charset/), so showing the window opens no
// converter.
//
// Ownership: StartUp makes a window that deletes itself when it is closed; the application ends
// with it. A MainWindow constructed directly belongs to whoever constructed it.
//
// Threading: Qt widgets. Everything here runs on the thread of the QApplication, which must exist
// before any window is made.
//
// Example (the short-link action):
//   Text name = GetEditText(window, "编辑框_username");
//   SetCaption(window, ConcatTexts(GetCaption(window), ":", message));

#ifndef QUENBREL_APP_MAIN_WINDOW_H_
#define QUENBREL_APP_MAIN_WINDOW_H_

#include <QMargins>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "text/text.h"

class QByteArray;
class QEvent;
class QLabel;
class QObject;

namespace quenbrel {

enum class ControlKind { kLabel, kEditBox, kButton };

// One control of the window. Positions are pixels in the window's client area; texts and names
// are UTF-8 as they stand in this source.
struct ControlRow {
  std::string_view name;
  ControlKind kind;
  int left;
  int top;
  int width;
  int height;
  std::string_view text;                // initial text; empty: none
  std::optional<std::uint32_t> colour;  // text colour 0xRRGGBB; nullopt: the platform's own
};

inline constexpr int kWindowOuterWidth = 380;
inline constexpr int kWindowOuterHeight = 250;
inline constexpr std::string_view kWindowCaption = "Quenbrel";
// The help label; its text is followed by HelpContactNumber.
inline constexpr std::string_view kHelpLabelName = "标签5";

inline constexpr std::uint32_t kBlack = 0x000000;
inline constexpr std::uint32_t kHelpGreen = 0x008000;

// The window's controls in the order in which they are stored and created. Edit boxes draw their
// text on white.
inline constexpr std::array<ControlRow, 10> kControls = {{
    {"标签5", ControlKind::kLabel, 28, 187, 112, 24, "帮助QQ", kHelpGreen},
    {"标签4", ControlKind::kLabel, 22, 108, 72, 24, "待生成网址：", kBlack},
    {"编辑框_longurl", ControlKind::kEditBox, 106, 111, 234, 20, "", kBlack},
    {"按钮_生成", ControlKind::kButton, 195, 182, 104, 32, "生成", std::nullopt},
    {"标签3", ControlKind::kLabel, 20, 150, 72, 24, "生成结果：", kBlack},
    {"标签2", ControlKind::kLabel, 66, 71, 40, 24, "密码:", kBlack},
    {"标签1", ControlKind::kLabel, 64, 31, 48, 24, "用户名:", kBlack},
    {"编辑框_result", ControlKind::kEditBox, 107, 153, 234, 20, "", kBlack},
    {"编辑框_password", ControlKind::kEditBox, 120, 72, 152, 20, "kolm", kBlack},
    {"编辑框_username", ControlKind::kEditBox, 120, 32, 152, 20, "kolm", kBlack},
}};

class MainWindow final : public QWidget {
 public:
  // Makes the window and its controls, sized and placed but not shown.
  MainWindow();
  ~MainWindow() override;

  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  // When the frame differs from the one last fitted: sizes the client area so that client plus
  // frame is the outer size, and puts the frame's top-left corner at place_. Otherwise takes the
  // frame's place as the one to keep. Does nothing while the window manager owns the geometry
  // (full screen, maximised, minimised), and fits again once that ends.
  void FitToFrame();
  // Runs FitToFrame once the events being handled are done; repeated requests run it once.
  void QueueFitToFrame();

  QLabel* help_label_ = nullptr;
  QPointer<QWindow> watched_window_;  // the platform window whose events are watched
  std::optional<QMargins> fitted_frame_;
  QPoint place_;  // where the frame's top-left corner belongs
  bool fitting_ = false;
  bool fit_queued_ = false;
};

// Shows a new MainWindow, non-modal and without owner, that deletes itself when closed; returns at
// once. The application's event loop runs after it and ends when the window closes.
void StartUp();

// Asks the desktop, once, to open HelpChatLink; the outcome is ignored.
void OpenHelpChat();

// The text of the edit box called name, as code page 936; empty when window has no edit box of
// that name.
Text GetEditText(const MainWindow& window, std::string_view name);
// Sets the text of the edit box called name from code page 936 text; false when there is none.
bool SetEditText(MainWindow& window, std::string_view name, std::string_view text);
// The window caption as code page 936.
Text GetCaption(const MainWindow& window);
// Sets the window caption from code page 936 text.
void SetCaption(MainWindow& window, std::string_view text);

}  // namespace quenbrel

#endif  // QUENBREL_APP_MAIN_WINDOW_H_
