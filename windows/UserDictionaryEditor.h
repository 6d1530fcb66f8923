// The user dictionary editor: the learned words with their use counts in a table the user
// searches and sorts, adding a word and removing the selected ones. Every edit goes through the
// dictionary's own store calls, which announce it; the table then shows what the file holds. The
// file is read and written off the main thread, and the table follows when that is done. One
// window per process, built once, whose search and sort survive closing; its words do not: the
// process serves typing for the whole session, and the largest dictionary lists tens of megabytes.
// Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_USERDICTIONARYEDITOR_H_
#define TOLVANI_WINDOWS_USERDICTIONARYEDITOR_H_

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <memory>
#include <vector>

#include "settings/AppSettingsUserData.h"
#include "windows/UserDictionaryWork.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tolvani {

// The words in load order.
class UserDictionaryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { wordColumn, usesColumn, columnCount_ };

  using QAbstractTableModel::QAbstractTableModel;

  // Shows these words, as read from the dictionary; returns the ones shown before.
  UserDictionaryWork::Entries setEntries(UserDictionaryWork::Entries entries);
  const UserDictionaryWork::ListedWord& entry(int row) const {
    return entries_[static_cast<size_t>(row)];
  }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  UserDictionaryWork::Entries entries_;
};

// Rows whose lower-cased word holds the lower-cased search, canonically equivalent forms alike;
// words sort by their composed text, counts by number. Requires: its source model is a
// UserDictionaryModel.
class UserDictionaryFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void setSearch(const QString& search);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  QString search_;  // lower-cased, decomposed
};

class UserDictionaryEditor : public QWidget {
  Q_OBJECT

 public:
  explicit UserDictionaryEditor(QWidget* parent = nullptr);

  // Reads the dictionary again, keeping the search and the sort; the table follows once it is
  // read.
  void reload();

 protected:
  // A close lets go of the words (a minimised window keeps them).
  void hideEvent(QHideEvent* event) override;

 private:
  void addWord();
  void removeSelected();
  void showEntries(UserDictionaryWork::Entries entries);
  void updateCount();

  UserDictionaryModel model_;
  UserDictionaryFilter filter_;
  QLineEdit* search_ = nullptr;
  QTableView* table_ = nullptr;
  QLineEdit* addField_ = nullptr;
  QPushButton* add_ = nullptr;
  QLabel* count_ = nullptr;
  QPushButton* remove_ = nullptr;
  // Every widget above is owned by this widget's layouts.
};

class UserDictionaryEditorController {
 public:
  static UserDictionaryEditorController& shared();
  UserDictionaryEditorController(const UserDictionaryEditorController&) = delete;
  UserDictionaryEditorController& operator=(const UserDictionaryEditorController&) = delete;

  // Shows the window and reads the dictionary again.
  void showWindow();
  UserDictionaryEditor* window() const { return window_.get(); }

 private:
  UserDictionaryEditorController();
  ~UserDictionaryEditorController();

  std::unique_ptr<UserDictionaryEditor> window_;
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_USERDICTIONARYEDITOR_H_
