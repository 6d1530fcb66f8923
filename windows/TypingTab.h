// The settings window's Typing tab: the switches that change how typing behaves, the spoken-forms
// choice, links that push the diagnostics and correction-preferences pages inside the tab, the
// buttons that open the other windows, and the shortcut tip. Each change is stored, then
// announced. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_TYPINGTAB_H_
#define TOLVANI_WINDOWS_TYPINGTAB_H_

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace tolvani {

struct SettingsCopies;

class TypingTab : public QWidget {
  Q_OBJECT

 public:
  explicit TypingTab(QWidget* parent = nullptr);

  // Fills the controls from the copies and the switches the store reads by key; announces
  // nothing.
  void reload(const SettingsCopies& copies);
  // Also tells the page pushed over the form, if any, that the interface language changed.
  void updateTexts();

  // The page pushed over the tab's form, or null.
  QWidget* pushedPage() const { return page_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // A switch that stores through `store`, then announces.
  QCheckBox* addSwitch(const char* name, void (*store)(bool));
  // Shows `page` in place of the form, under a back button.
  void push(QWidget* page);
  void pop();
  void updateIcons();

  QStackedWidget* stack_ = nullptr;  // owned by this widget
  QWidget* pageHolder_ = nullptr;    // owned by stack_
  QWidget* page_ = nullptr;          // owned by pageHolder_
  QToolButton* back_ = nullptr;      // owned by pageHolder_
  QGroupBox* behaviorSection_ = nullptr;
  QGroupBox* toolsSection_ = nullptr;
  QCheckBox* banglaDigits_ = nullptr;
  QCheckBox* emoji_ = nullptr;
  QPushButton* diagnosticsLink_ = nullptr;
  QCheckBox* modernSpellings_ = nullptr;
  QLabel* spokenLabel_ = nullptr;
  QComboBox* spokenForms_ = nullptr;
  QCheckBox* predictions_ = nullptr;
  QPushButton* correctionsLink_ = nullptr;
  QCheckBox* autocorrect_ = nullptr;
  QCheckBox* englishPassthrough_ = nullptr;
  QPushButton* customKeys_ = nullptr;
  QPushButton* textShortcuts_ = nullptr;
  QPushButton* typingInsights_ = nullptr;
  QPushButton* keyboardHelp_ = nullptr;
  QLabel* tip_ = nullptr;
  // Every widget above is owned by this widget's layouts.
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_TYPINGTAB_H_
