// The page of remembered correction preferences, pushed inside the settings window's Typing tab:
// one row per raw input with the word picked for it and the candidates skipped for it, a search
// field, and forgetting the selected preferences. The rows are read each time the page is shown
// and after each forget. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_CORRECTIONPREFERENCESVIEW_H_
#define TOLVANI_WINDOWS_CORRECTIONPREFERENCESVIEW_H_

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <vector>

#include "settings/AppSettingsUserData.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tolvani {

// The preferences in load order, one row each: the input as shown, the pick, the skipped ones.
class CorrectionPreferencesModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { inputColumn, chosenColumn, skippedColumn, columnCount_ };
  // The stored raw input of a row, the row's key.
  static constexpr int kRawRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;

  // Replaces every row.
  void setPreferences(std::vector<CorrectionPreference> preferences);
  const std::vector<CorrectionPreference>& preferences() const { return preferences_; }

  // The input as its title shows it: the stored raw input without the "#standard:" marker.
  static QString titleOf(const QString& raw);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  std::vector<CorrectionPreference> preferences_;
};

// A row passes when the search is empty, when its raw input holds the search in any letter case,
// or when its pick holds it as written. Skipped candidates are never searched. Both sides are
// compared in canonical decomposition, so a letter written with a nukta matches its precomposed
// form.
class CorrectionPreferencesFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void setSearch(const QString& search);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  QString search_;  // decomposed
};

class CorrectionPreferencesView : public QWidget {
  Q_OBJECT

 public:
  // Reads nothing until it is shown.
  explicit CorrectionPreferencesView(QWidget* parent = nullptr);

  const CorrectionPreferencesModel& model() const { return model_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // A change of the interface language (QEvent::LanguageChange) sets every text again.
  void changeEvent(QEvent* event) override;

 private:
  void reload();
  void forgetSelected();
  void updateButtons();
  void updateTexts();

  CorrectionPreferencesModel model_;
  CorrectionPreferencesFilter filter_;
  QLabel* title_ = nullptr;        // owned by this widget
  QLabel* explanation_ = nullptr;  // owned by this widget
  QLineEdit* search_ = nullptr;    // owned by this widget
  QTableView* table_ = nullptr;    // owned by this widget
  QPushButton* forget_ = nullptr;  // owned by this widget
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_CORRECTIONPREFERENCESVIEW_H_
