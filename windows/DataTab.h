// The settings window's Data tab: how many words were learned, the user dictionary, the data
// folder, resetting the learned data after a confirmation, the four backup buttons, and the note
// that nothing leaves the computer. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_DATATAB_H_
#define TOLVANI_WINDOWS_DATATAB_H_

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tolvani {

class DataTab : public QWidget {
  Q_OBJECT

 public:
  explicit DataTab(QWidget* parent = nullptr);

  // Reads the learned-word count again, off the main thread; the count shows when it is read.
  void reload();
  void updateTexts();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void showLearnedWordCount(int count);
  void confirmReset();
  void updateColors();

  QGroupBox* privacySection_ = nullptr;
  QGroupBox* backupSection_ = nullptr;
  QLabel* learnedLabel_ = nullptr;
  QLabel* learnedCount_ = nullptr;
  QPushButton* editDictionary_ = nullptr;
  QPushButton* openFolder_ = nullptr;
  QPushButton* reset_ = nullptr;
  QPushButton* exportWords_ = nullptr;
  QPushButton* importWords_ = nullptr;
  QPushButton* exportShortcuts_ = nullptr;
  QPushButton* importShortcuts_ = nullptr;
  QLabel* backupFooter_ = nullptr;
  QLabel* badgeIcon_ = nullptr;
  QLabel* badge_ = nullptr;
  QLabel* footnote_ = nullptr;
  // Every widget above is owned by this widget's layouts.
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_DATATAB_H_
