#include "windows/UserDictionaryEditor.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "settings/Dialogs.h"
#include "settings/SecondaryText.h"
#include "settings/UIStrings.h"
#include "windows/SettingsWidgets.h"
#include "windows/UserDictionaryWork.h"

namespace tolvani {

UserDictionaryWork::Entries UserDictionaryModel::setEntries(UserDictionaryWork::Entries entries) {
  beginResetModel();
  entries_.swap(entries);
  endResetModel();
  return entries;
}

int UserDictionaryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int UserDictionaryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columnCount_;
}

QVariant UserDictionaryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const UserWordEntry& entry = entries_[static_cast<size_t>(index.row())];
  const bool word = index.column() == wordColumn;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return word ? entry.word : QString::number(entry.frequency);
    case Qt::EditRole:
      return word ? QVariant(entry.word) : QVariant(qint64{entry.frequency});
    case Qt::TextAlignmentRole:
      return word ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::FontRole:
      // Digits of one width keep the counts in a column.
      return word ? QVariant() : QVariant(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    default:
      return {};
  }
}

QVariant UserDictionaryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole)
    return section == wordColumn ? UIStrings::wordColumn() : UIStrings::usesColumn();
  // A first click on "Uses" shows the most used first.
  if (role == Qt::InitialSortOrderRole)
    return section == wordColumn ? Qt::AscendingOrder : Qt::DescendingOrder;
  return {};
}

void UserDictionaryFilter::setSearch(const QString& search) {
  search_ = UserDictionaryWork::searchForm(search);
  invalidateFilter();
}

// Both straight from the rows, not through data(), and on forms made off the main thread: a
// filter or a sort of tens of thousands of words runs on the thread that answers keys.
bool UserDictionaryFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  if (search_.isEmpty()) return true;
  const auto* words = static_cast<const UserDictionaryModel*>(sourceModel());
  return words->entry(sourceRow).searchForm.contains(search_);
}

bool UserDictionaryFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const auto* words = static_cast<const UserDictionaryModel*>(sourceModel());
  const UserDictionaryWork::ListedWord& a = words->entry(left.row());
  const UserDictionaryWork::ListedWord& b = words->entry(right.row());
  if (left.column() == UserDictionaryModel::usesColumn) return a.frequency < b.frequency;
  return a.sortForm < b.sortForm;
}

UserDictionaryEditor::UserDictionaryEditor(QWidget* parent) : QWidget(parent) {
  filter_.setSourceModel(&model_);

  search_ = new QLineEdit;
  search_->setObjectName(QStringLiteral("search"));
  search_->setClearButtonEnabled(true);
  table_ = settingsui::makeListTable("words", &filter_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(UserDictionaryModel::usesColumn, Qt::DescendingOrder);
  table_->setColumnWidth(UserDictionaryModel::wordColumn, 280);
  table_->setItemDelegateForColumn(UserDictionaryModel::usesColumn,
                                   new secondarytext::Delegate(table_));
  addField_ = new QLineEdit;
  addField_->setObjectName(QStringLiteral("addWord"));
  addField_->setMinimumWidth(200);
  secondarytext::follow(search_);
  secondarytext::follow(addField_);
  add_ = new QPushButton;
  add_->setObjectName(QStringLiteral("add"));
  count_ = settingsui::makeSecondaryLabel();
  count_->setObjectName(QStringLiteral("count"));
  count_->setWordWrap(false);
  remove_ = new QPushButton;
  remove_->setObjectName(QStringLiteral("removeSelected"));

  auto* addRow = new QHBoxLayout;
  addRow->setSpacing(8);
  addRow->addWidget(addField_, 1);
  addRow->addWidget(add_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(count_, 1);
  bottom->addWidget(remove_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->setSpacing(8);
  layout->addWidget(search_);
  layout->addWidget(table_, 1);
  layout->addLayout(addRow);
  layout->addLayout(bottom);

  connect(search_, &QLineEdit::textChanged, &filter_, &UserDictionaryFilter::setSearch);
  connect(search_, &QLineEdit::textChanged, this, &UserDictionaryEditor::updateCount);
  connect(addField_, &QLineEdit::returnPressed, this, &UserDictionaryEditor::addWord);
  connect(add_, &QPushButton::clicked, this, &UserDictionaryEditor::addWord);
  connect(remove_, &QPushButton::clicked, this, &UserDictionaryEditor::removeSelected);

  setWindowFlags(Qt::Window);
  setAttribute(Qt::WA_DeleteOnClose, false);
  // The texts are read once, when the window is built.
  setWindowTitle(UIStrings::userDictionary());
  search_->setPlaceholderText(UIStrings::searchWords());
  addField_->setPlaceholderText(UIStrings::addWordPlaceholder());
  add_->setText(settingsui::plain(UIStrings::addButton()));
  remove_->setText(settingsui::plain(UIStrings::removeSelected()));
  resize(480, 520);
  setMinimumSize(360, 300);
  updateCount();
}

void UserDictionaryEditor::reload() {
  UserDictionaryWork::loadEntries(
      this, [this](UserDictionaryWork::Entries entries) { showEntries(std::move(entries)); });
}

void UserDictionaryEditor::showEntries(UserDictionaryWork::Entries entries) {
  // A read or an edit answered after the window closed: the next opening reads the file again.
  if (isHidden()) {
    UserDictionaryWork::release(std::move(entries));
    return;
  }
  UserDictionaryWork::release(model_.setEntries(std::move(entries)));
  updateCount();
}

void UserDictionaryEditor::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (event->spontaneous()) return;
  UserDictionaryWork::release(model_.setEntries({}));
  updateCount();
}

void UserDictionaryEditor::addWord() {
  const QString word = addField_->text().trimmed();
  if (word.isEmpty()) return;
  UserDictionaryWork::addWord(
      word, this, [this](UserDictionaryWork::Entries entries) { showEntries(std::move(entries)); });
  addField_->clear();
}

void UserDictionaryEditor::removeSelected() {
  QModelIndexList rows = table_->selectionModel()->selectedRows(UserDictionaryModel::wordColumn);
  if (rows.isEmpty()) return;
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  // Words first: each removal rewrites the rows under the others.
  QStringList words;
  for (const QModelIndex& index : rows) words << index.data().toString();
  UserDictionaryWork::removeWords(words, this, [this](UserDictionaryWork::Entries entries) {
    showEntries(std::move(entries));
  });
}

void UserDictionaryEditor::updateCount() {
  count_->setText(UIStrings::wordCount(filter_.rowCount(), model_.rowCount()));
}

UserDictionaryEditorController& UserDictionaryEditorController::shared() {
  // Never released: destroying widgets after the application object at exit would crash.
  static UserDictionaryEditorController* const instance = new UserDictionaryEditorController();
  return *instance;
}

UserDictionaryEditorController::UserDictionaryEditorController()
    : window_(std::make_unique<UserDictionaryEditor>()) {
  window_->setObjectName(QStringLiteral("userDictionaryWindow"));
  centerOnScreen(window_.get());
}

UserDictionaryEditorController::~UserDictionaryEditorController() = default;

void UserDictionaryEditorController::showWindow() {
  window_->reload();
  // At once: the table follows when the file is read.
  openWindow(window_.get());
}

}  // namespace tolvani
