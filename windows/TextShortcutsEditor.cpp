#include "windows/TextShortcutsEditor.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Queues.h"
#include "settings/AppSettings.h"
#include "settings/BackupPanels.h"
#include "settings/Dialogs.h"
#include "settings/SecondaryText.h"
#include "settings/TextShortcuts.h"
#include "settings/UIStrings.h"
#include "windows/SettingsWidgets.h"
#include "windows/ViewWindow.h"

namespace tolvani {
namespace {

bool byTrigger(const ShortcutEntry& a, const ShortcutEntry& b) {
  return a.id.normalized(QString::NormalizationForm_C) <
         b.id.normalized(QString::NormalizationForm_C);
}

bool hasSpace(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

// Stores an expansion at each keystroke, as the rest of the editor stores every change at once:
// a list reloaded by a settings change, or a window closed, while a row is being edited would
// otherwise drop what was typed into it.
class ExpansionDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* field = qobject_cast<QLineEdit*>(editor)) {
      auto* self = const_cast<ExpansionDelegate*>(this);
      connect(field, &QLineEdit::textEdited, self,
              [self, field] { Q_EMIT self->commitData(field); });
    }
    return editor;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    // The field's own keystroke coming back: setting it again would move the cursor to the end.
    auto* field = qobject_cast<QLineEdit*>(editor);
    if (field && field->text() == index.data(Qt::EditRole).toString()) return;
    QStyledItemDelegate::setEditorData(editor, index);
  }
};

}  // namespace

void TextShortcutsModel::sortAndReset(std::vector<ShortcutEntry> entries) {
  std::sort(entries.begin(), entries.end(), byTrigger);
  beginResetModel();
  entries_ = std::move(entries);
  endResetModel();
}

void TextShortcutsModel::load() {
  std::vector<ShortcutEntry> entries;
  const QMap<QString, QString> stored = AppSettings::textShortcuts();
  for (auto it = stored.begin(); it != stored.end(); ++it)
    entries.push_back({it.key(), it.value()});
  sortAndReset(std::move(entries));
}

bool TextShortcutsModel::add(const QString& trigger, const QString& expansion) {
  const QString key = trigger.trimmed().toLower();
  const QString text = expansion.trimmed();
  if (key.isEmpty() || text.isEmpty() || hasSpace(key)) return false;
  std::vector<ShortcutEntry> entries = entries_;
  std::erase_if(entries, [&](const ShortcutEntry& e) { return e.id == key; });
  entries.push_back({key, text});
  sortAndReset(std::move(entries));
  persist();
  return true;
}

void TextShortcutsModel::remove(const QStringList& triggers) {
  if (triggers.isEmpty()) return;
  std::vector<ShortcutEntry> entries = entries_;
  std::erase_if(entries, [&](const ShortcutEntry& e) { return triggers.contains(e.id); });
  sortAndReset(std::move(entries));
  persist();
}

void TextShortcutsModel::persist() const {
  QMap<QString, QString> shortcuts;
  for (const ShortcutEntry& entry : entries_) shortcuts.insert(entry.id, entry.expansion);
  AppSettings::setTextShortcuts(shortcuts);
}

int TextShortcutsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int TextShortcutsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columnCount_;
}

QVariant TextShortcutsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const ShortcutEntry& entry = entries_[static_cast<size_t>(index.row())];
  if (role == kTriggerRole) return entry.id;
  if (role == Qt::FontRole && index.column() == triggerColumn) {
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    return mono;
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole) return {};
  return index.column() == triggerColumn ? entry.id : entry.expansion;
}

bool TextShortcutsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.column() != expansionColumn) return false;
  // Stored as typed: an expansion may be left empty on purpose.
  entries_[static_cast<size_t>(index.row())].expansion = value.toString();
  persist();
  Q_EMIT dataChanged(index, index);
  return true;
}

Qt::ItemFlags TextShortcutsModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  if (index.column() == expansionColumn) flags |= Qt::ItemIsEditable;
  return flags;
}

QVariant TextShortcutsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == triggerColumn ? UIStrings::shortcutColumn() : UIStrings::expansionColumn();
}

TextShortcutsEditorView::TextShortcutsEditorView(QWidget* parent) : QWidget(parent) {
  sorted_.setSourceModel(&model_);
  sorted_.setSortCaseSensitivity(Qt::CaseSensitive);

  heading_ = new QLabel;
  QFont headingFont = heading_->font();
  headingFont.setPointSizeF(headingFont.pointSizeF() * 1.2);
  headingFont.setWeight(QFont::DemiBold);
  heading_->setFont(headingFont);
  subtitle_ = settingsui::makeSecondaryLabel();
  table_ = new QTableView;
  table_->setObjectName(QStringLiteral("shortcuts"));
  table_->setModel(&sorted_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(TextShortcutsModel::triggerColumn, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setItemDelegateForColumn(TextShortcutsModel::expansionColumn,
                                   new ExpansionDelegate(table_));
  table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
  table_->verticalHeader()->hide();
  table_->setColumnWidth(TextShortcutsModel::triggerColumn, 110);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setMinimumHeight(220);

  newKey_ = new QLineEdit;
  newKey_->setObjectName(QStringLiteral("newKey"));
  newKey_->setFixedWidth(150);
  secondarytext::follow(newKey_);
  newExpansion_ = new QLineEdit;
  newExpansion_->setObjectName(QStringLiteral("newExpansion"));
  secondarytext::follow(newExpansion_);
  add_ = new QPushButton;
  add_->setObjectName(QStringLiteral("add"));
  add_->setAutoDefault(false);
  delete_ = new QPushButton;
  delete_->setObjectName(QStringLiteral("delete"));
  hint_ = settingsui::makeSecondaryLabel();
  import_ = new QPushButton;
  import_->setObjectName(QStringLiteral("import"));
  export_ = new QPushButton;
  export_->setObjectName(QStringLiteral("export"));
  restore_ = new QPushButton;
  restore_->setObjectName(QStringLiteral("restoreDefaults"));

  auto* addRow = new QHBoxLayout;
  addRow->setSpacing(8);
  addRow->addWidget(newKey_);
  addRow->addWidget(newExpansion_, 1);
  addRow->addWidget(add_);
  auto* footer = new QHBoxLayout;
  footer->addWidget(import_);
  footer->addWidget(export_);
  footer->addStretch(1);
  footer->addWidget(delete_);
  footer->addWidget(restore_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->setSpacing(10);
  layout->addWidget(heading_);
  layout->addWidget(subtitle_);
  layout->addWidget(table_, 1);
  layout->addLayout(addRow);
  layout->addWidget(hint_);
  layout->addLayout(footer);

  connect(add_, &QPushButton::clicked, this, &TextShortcutsEditorView::add);
  connect(delete_, &QPushButton::clicked, this, &TextShortcutsEditorView::deleteSelected);
  connect(restore_, &QPushButton::clicked, this, &TextShortcutsEditorView::restoreDefaults);
  connect(import_, &QPushButton::clicked, this,
          [this] { BackupPanels::importTextShortcuts(window()); });
  connect(export_, &QPushButton::clicked, this,
          [this] { BackupPanels::exportTextShortcuts(window()); });
  connect(newKey_, &QLineEdit::textChanged, this, &TextShortcutsEditorView::updateButtons);
  connect(newExpansion_, &QLineEdit::textChanged, this, &TextShortcutsEditorView::updateButtons);
  connect(&model_, &QAbstractItemModel::modelReset, this, &TextShortcutsEditorView::updateButtons);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TextShortcutsEditorView::updateButtons);

  // An import from another window changes the stored set: the list follows.
  std::weak_ptr<bool> alive = alive_;
  observer_ = platform::NotificationCenter::defaultCenter().addObserver(
      AppSettings::didChangeNotification(), [this, alive](const platform::Notification&) {
        auto reload = [this, alive] {
          if (alive.lock()) model_.load();
        };
        if (platform::isMainThread()) {
          reload();
        } else {
          platform::mainQueue().async(reload);
        }
      });

  updateTexts();
  updateButtons();
  // Wider where the desktop's font needs it: under GNOME's larger default font the row of four
  // buttons does not fit in 540.
  setFixedSize(QSize(540, 500).expandedTo(minimumSizeHint()));
}

TextShortcutsEditorView::~TextShortcutsEditorView() {
  platform::NotificationCenter::defaultCenter().removeObserver(observer_);
  alive_.reset();
}

void TextShortcutsEditorView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) model_.load();
}

void TextShortcutsEditorView::add() {
  // A trigger with a space inside stays in the field, as an empty one does.
  if (!model_.add(newKey_->text(), newExpansion_->text())) return;
  newKey_->clear();
  newExpansion_->clear();
}

void TextShortcutsEditorView::deleteSelected() {
  QStringList triggers;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows())
    triggers << index.data(TextShortcutsModel::kTriggerRole).toString();
  model_.remove(triggers);
}

void TextShortcutsEditorView::restoreDefaults() {
  AppSettings::resetTextShortcuts();
  model_.load();
}

void TextShortcutsEditorView::updateButtons() {
  add_->setEnabled(!newKey_->text().trimmed().isEmpty() &&
                   !newExpansion_->text().trimmed().isEmpty());
  export_->setEnabled(model_.rowCount() > 0);
  delete_->setEnabled(table_->selectionModel()->hasSelection());
}

void TextShortcutsEditorView::updateTexts() {
  heading_->setText(UIStrings::textShortcuts());
  subtitle_->setText(UIStrings::textShortcutsSubtitle());
  newKey_->setPlaceholderText(UIStrings::addShortcutKeyPlaceholder());
  newExpansion_->setPlaceholderText(UIStrings::addShortcutValuePlaceholder());
  add_->setText(settingsui::plain(UIStrings::addButton()));
  delete_->setText(settingsui::plain(UIStrings::deleteShortcut()));
  hint_->setText(UIStrings::dynamicShortcutsHint());
  import_->setText(settingsui::plain(UIStrings::importTextShortcuts()));
  import_->setToolTip(UIStrings::shortcutsFileFormats());
  export_->setText(settingsui::plain(UIStrings::exportTextShortcuts()));
  restore_->setText(settingsui::plain(UIStrings::restoreDefaults()));
}

TextShortcutsEditorController& TextShortcutsEditorController::shared() {
  // Never released: destroying widgets after the application object at exit would crash.
  static TextShortcutsEditorController* const instance = new TextShortcutsEditorController();
  return *instance;
}

TextShortcutsEditorController::TextShortcutsEditorController()
    : window_(std::make_unique<QWidget>()) {
  window_->setObjectName(QStringLiteral("textShortcutsWindow"));
  view_ = new TextShortcutsEditorView;
  setUpViewWindow(window_.get(), view_, UIStrings::textShortcuts());
}

TextShortcutsEditorController::~TextShortcutsEditorController() = default;

void TextShortcutsEditorController::showWindow() {
  // A fresh view: the list read anew, the add fields empty, the texts in the current language.
  auto* fresh = new TextShortcutsEditorView;
  replaceView(window_.get(), view_, fresh);
  view_ = fresh;
  window_->setWindowTitle(UIStrings::textShortcuts());
  openWindow(window_.get());
}

}  // namespace tolvani
