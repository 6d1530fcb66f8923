// A top-level window that shows one view at the view's own size: titled, closable and
// minimisable but not resizable, kept when closed, centred on the screen once when built. Its
// opener puts a fresh view in it each time it opens. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_VIEWWINDOW_H_
#define TOLVANI_WINDOWS_VIEWWINDOW_H_

class QString;
class QWidget;

namespace tolvani {

// Makes `window` such a window around `view`, which it then owns. Requires: `window` has no
// layout yet.
void setUpViewWindow(QWidget* window, QWidget* view, const QString& title);
// Puts `fresh` in `old`'s place in a window set up above, deletes `old` and shows `fresh`.
void replaceView(QWidget* window, QWidget* old, QWidget* fresh);

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_VIEWWINDOW_H_
