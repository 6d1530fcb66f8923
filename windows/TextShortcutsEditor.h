// The text shortcuts editor: the stored shortcuts in a table, each expansion edited in place, with
// adding, deleting, import, export and restoring the built-in set. Every change is stored at once;
// the list is read again whenever the settings-change notification is posted. One window per
// process; every opening puts a fresh view in it. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_TEXTSHORTCUTSEDITOR_H_
#define TOLVANI_WINDOWS_TEXTSHORTCUTSEDITOR_H_

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/NotificationCenter.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tolvani {

struct ShortcutEntry {
  QString id;  // the trigger
  QString expansion;
  bool operator==(const ShortcutEntry&) const = default;
};

// The shortcuts in trigger order. An edit of an expansion is stored with the whole set.
class TextShortcutsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { triggerColumn, expansionColumn, columnCount_ };
  static constexpr int kTriggerRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;

  // Reads the stored set afresh.
  void load();
  // Stores `expansion` under `trigger`, replacing one that differs only in case; false (nothing
  // changed) for an empty trigger or expansion after trimming, or a trigger with inner space.
  bool add(const QString& trigger, const QString& expansion);
  void remove(const QStringList& triggers);
  const std::vector<ShortcutEntry>& entries() const { return entries_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void persist() const;
  void sortAndReset(std::vector<ShortcutEntry> entries);

  std::vector<ShortcutEntry> entries_;
};

class TextShortcutsEditorView : public QWidget {
  Q_OBJECT

 public:
  explicit TextShortcutsEditorView(QWidget* parent = nullptr);
  ~TextShortcutsEditorView() override;

  const TextShortcutsModel& model() const { return model_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void add();
  void deleteSelected();
  void restoreDefaults();
  void updateButtons();
  void updateTexts();

  TextShortcutsModel model_;
  QSortFilterProxyModel sorted_;
  platform::NotificationCenter::Token observer_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  QLabel* heading_ = nullptr;
  QLabel* subtitle_ = nullptr;
  QTableView* table_ = nullptr;
  QLineEdit* newKey_ = nullptr;
  QLineEdit* newExpansion_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* delete_ = nullptr;
  QLabel* hint_ = nullptr;
  QPushButton* import_ = nullptr;
  QPushButton* export_ = nullptr;
  QPushButton* restore_ = nullptr;
  // Every widget above is owned by this widget's layouts.
};

class TextShortcutsEditorController {
 public:
  static TextShortcutsEditorController& shared();
  TextShortcutsEditorController(const TextShortcutsEditorController&) = delete;
  TextShortcutsEditorController& operator=(const TextShortcutsEditorController&) = delete;

  void showWindow();
  QWidget* window() const { return window_.get(); }
  TextShortcutsEditorView* view() const { return view_; }

 private:
  TextShortcutsEditorController();
  ~TextShortcutsEditorController();

  std::unique_ptr<QWidget> window_;
  TextShortcutsEditorView* view_ = nullptr;  // owned by window_
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_TEXTSHORTCUTSEDITOR_H_
