#include "windows/CorrectionPreferencesView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

#include "settings/Dialogs.h"
#include "settings/SecondaryText.h"
#include "settings/UIStrings.h"
#include "windows/SettingsWidgets.h"

namespace tolvani {
namespace {

const QString kStandardMarker = QStringLiteral("#standard:");

QString decomposed(const QString& text) { return text.normalized(QString::NormalizationForm_D); }

}  // namespace

void CorrectionPreferencesModel::setPreferences(std::vector<CorrectionPreference> preferences) {
  beginResetModel();
  preferences_ = std::move(preferences);
  endResetModel();
}

QString CorrectionPreferencesModel::titleOf(const QString& raw) {
  return QString(raw).remove(kStandardMarker, Qt::CaseSensitive);
}

int CorrectionPreferencesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(preferences_.size());
}

int CorrectionPreferencesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columnCount_;
}

QVariant CorrectionPreferencesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const CorrectionPreference& preference = preferences_[static_cast<size_t>(index.row())];
  if (role == kRawRole) return preference.raw;
  if (role == Qt::FontRole && index.column() == inputColumn) {
    QFont font;
    font.setBold(true);
    return font;
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case inputColumn:
      return titleOf(preference.raw);
    case chosenColumn:
      return preference.selected ? UIStrings::chosenPrefix() + *preference.selected : QString();
    case skippedColumn:
      return preference.rejected.isEmpty()
                 ? QString()
                 : UIStrings::skippedPrefix() + preference.rejected.join(QStringLiteral(", "));
  }
  return {};
}

void CorrectionPreferencesFilter::setSearch(const QString& search) {
  search_ = decomposed(search);
  invalidateFilter();
}

bool CorrectionPreferencesFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  if (search_.isEmpty()) return true;
  const auto* model = static_cast<const CorrectionPreferencesModel*>(sourceModel());
  const CorrectionPreference& preference = model->preferences()[static_cast<size_t>(sourceRow)];
  if (decomposed(preference.raw).contains(search_, Qt::CaseInsensitive)) return true;
  return preference.selected && decomposed(*preference.selected).contains(search_);
}

CorrectionPreferencesView::CorrectionPreferencesView(QWidget* parent) : QWidget(parent) {
  filter_.setSourceModel(&model_);

  title_ = new QLabel;
  title_->setObjectName(QStringLiteral("title"));
  QFont titleFont = title_->font();
  titleFont.setBold(true);
  title_->setFont(titleFont);
  explanation_ = settingsui::makeSecondaryLabel();
  explanation_->setObjectName(QStringLiteral("explanation"));
  search_ = new QLineEdit;
  search_->setObjectName(QStringLiteral("search"));
  search_->setClearButtonEnabled(true);
  table_ = new QTableView;
  table_->setObjectName(QStringLiteral("preferences"));
  table_->setModel(&filter_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->setTextElideMode(Qt::ElideRight);
  // Each row says what its parts are: no column needs a heading.
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  table_->setColumnWidth(CorrectionPreferencesModel::inputColumn, 150);
  table_->setColumnWidth(CorrectionPreferencesModel::chosenColumn, 150);
  table_->setItemDelegateForColumn(CorrectionPreferencesModel::skippedColumn,
                                   new secondarytext::Delegate(table_));
  forget_ = new QPushButton;
  forget_->setObjectName(QStringLiteral("forget"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(forget_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addWidget(explanation_);
  layout->addWidget(search_);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);

  connect(search_, &QLineEdit::textChanged, &filter_, &CorrectionPreferencesFilter::setSearch);
  connect(forget_, &QPushButton::clicked, this, &CorrectionPreferencesView::forgetSelected);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CorrectionPreferencesView::updateButtons);
  connect(&filter_, &QAbstractItemModel::modelReset, this,
          &CorrectionPreferencesView::updateButtons);
  connect(&filter_, &QAbstractItemModel::layoutChanged, this,
          &CorrectionPreferencesView::updateButtons);
  connect(&filter_, &QAbstractItemModel::rowsRemoved, this,
          &CorrectionPreferencesView::updateButtons);

  updateTexts();
  updateButtons();
}

void CorrectionPreferencesView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  reload();
}

void CorrectionPreferencesView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) updateTexts();
}

void CorrectionPreferencesView::reload() {
  model_.setPreferences(AppSettings::correctionPreferences());
}

void CorrectionPreferencesView::forgetSelected() {
  // Keys first: forgetting one changes the rows under the others.
  QStringList raws;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows())
    raws << index.data(CorrectionPreferencesModel::kRawRole).toString();
  bool failed = false;
  for (const QString& raw : raws) failed = !AppSettings::forgetCorrection(raw) || failed;
  reload();
  if (failed) {
    dialogs::current().showAlert(this, {UIStrings::couldNotSaveChanges(),
                                        dialogs::AlertStyle::warning, UIStrings::okButton()});
  }
}

void CorrectionPreferencesView::updateButtons() {
  forget_->setEnabled(table_->selectionModel()->hasSelection());
}

void CorrectionPreferencesView::updateTexts() {
  title_->setText(UIStrings::correctionPreferences());
  setWindowTitle(UIStrings::correctionPreferences());
  explanation_->setText(UIStrings::correctionExplanation());
  forget_->setText(UIStrings::forgetPreference());
}

}  // namespace tolvani
