// The settings window's content: four tabs (General, Typing, Data, About), read from the store
// each time they come on screen, whose texts all follow the interface language as soon as it is
// changed. A fresh one is made at every opening of the window. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_SETTINGSROOTVIEW_H_
#define TOLVANI_WINDOWS_SETTINGSROOTVIEW_H_

#include <QWidget>

class QTabWidget;

namespace tolvani {

class AboutTab;
class DataTab;
class GeneralTab;
class TypingTab;

class SettingsRootView : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsRootView(QWidget* parent = nullptr);

  QTabWidget* tabs() const { return tabs_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Fills every control from the store, in the order the store's readers expect; announces
  // nothing.
  void reload();
  void updateTexts();
  void updateIcons();

  QTabWidget* tabs_ = nullptr;     // owned by this widget
  GeneralTab* general_ = nullptr;  // owned by tabs_
  TypingTab* typing_ = nullptr;    // owned by tabs_
  DataTab* data_ = nullptr;        // owned by tabs_
  AboutTab* about_ = nullptr;      // owned by tabs_
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_SETTINGSROOTVIEW_H_
