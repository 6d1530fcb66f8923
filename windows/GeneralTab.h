// The settings window's first tab: the layout typing starts in, the interface language, whether
// suggestions show, how many candidates the panel shows and the panel's theme. Each change is
// stored, then announced. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_GENERALTAB_H_
#define TOLVANI_WINDOWS_GENERALTAB_H_

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QSpinBox;

namespace tolvani {

struct SettingsCopies;

class GeneralTab : public QWidget {
  Q_OBJECT

 public:
  explicit GeneralTab(QWidget* parent = nullptr);

  // Fills the controls from the copies; announces nothing.
  void reload(const SettingsCopies& copies);
  void updateTexts();

 Q_SIGNALS:
  // The interface language was stored and announced: every text of the window follows.
  void interfaceLanguageChanged();

 private:
  void layoutChosen(int index);
  void languageChosen(int index);
  void suggestionsToggled(bool enabled);
  void countChanged(int count);
  void themeChosen(int index);

  QGroupBox* layoutSection_ = nullptr;       // owned by this widget
  QGroupBox* suggestionsSection_ = nullptr;  // owned by this widget
  QLabel* layoutLabel_ = nullptr;            // owned by this widget
  QLabel* languageLabel_ = nullptr;          // owned by this widget
  QLabel* countLabel_ = nullptr;             // owned by this widget
  QLabel* themeLabel_ = nullptr;             // owned by this widget
  QComboBox* layoutPicker_ = nullptr;        // owned by this widget
  QComboBox* languagePicker_ = nullptr;      // owned by this widget
  QCheckBox* suggestionsToggle_ = nullptr;   // owned by this widget
  QSpinBox* countStepper_ = nullptr;         // owned by this widget
  QComboBox* themePicker_ = nullptr;         // owned by this widget
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_GENERALTAB_H_
