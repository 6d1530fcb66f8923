// The settings window's Data tab: how many words were learned, the user dictionary, the data
// folder, resetting the learned data after a confirmation, the four backup buttons, and the note
// that nothing leaves the computer. The reset, the making and writing of the learned-data backup
// and its import run on the dictionary's worker (windows/UserDictionaryWork.h); meanwhile the
// buttons of the learned-data reset, export and import are disabled. Thread-safety: main thread
// only.
#ifndef TOLVANI_WINDOWS_DATATAB_H_
#define TOLVANI_WINDOWS_DATATAB_H_

#include <QWidget>
#include <optional>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tolvani {

class DataTab : public QWidget {
  Q_OBJECT

 public:
  explicit DataTab(QWidget* parent = nullptr);
  ~DataTab() override;

  // Reads the learned-word count again, off the main thread; the count shows when it is read.
  void reload();
  void updateTexts();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void showLearnedWordCount(int count);
  void confirmReset();
  // The engines' learned data is saved, the backup made and, once a file is chosen, written off
  // the main thread; the save dialog comes when the backup is ready, over the window while it is
  // open.
  void exportBackup();
  // The backup chosen in the file dialog is merged off the main thread; the count and the alert
  // come when the merge is done, the alert over the asking window while it exists.
  void importBackup();
  // Around an export, an import or a reset: every Data tab's buttons for them disabled
  // meanwhile, and its count set to `count` at the end, when there is one.
  static void startLearnedDataWork();
  static void endLearnedDataWork(std::optional<int> count);
  void updateLearnedDataButtons();
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
