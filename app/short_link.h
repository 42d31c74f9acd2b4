// The Generate action: the short link for the long address, shown in the window.
//
// GenerateShortLink is the clicked handler of the window's 按钮_生成 button. It works on the
// window it is given, reading and writing texts through the by-name access of main_window.h, and
// returns when the action is over; everything it makes lives only for that one call.
//
// Threading: runs on the window's thread, which it blocks until it returns.

#ifndef QUENBREL_APP_SHORT_LINK_H_
#define QUENBREL_APP_SHORT_LINK_H_

namespace quenbrel {

class MainWindow;

// Handles one click of 按钮_生成 on window.
void GenerateShortLink(MainWindow& window);

}  // namespace quenbrel

#endif  // QUENBREL_APP_SHORT_LINK_H_
