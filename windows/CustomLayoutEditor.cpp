#include "windows/CustomLayoutEditor.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "settings/AppSettings.h"
#include "settings/CustomLayoutFile.h"
#include "settings/Dialogs.h"
#include "settings/SecondaryText.h"
#include "settings/UIStrings.h"
#include "windows/SettingsWidgets.h"

namespace tolvani {
namespace {

// Like the rest of this window, in English whatever the interface language.
QString outputTooLongMessage() {
  return QStringLiteral("The output is too long. A key can type at most ") +
         QString::number(CustomLayoutFile::kMaxOutputCharacters) + QStringLiteral(" characters.");
}

QPushButton* makeButton(const char* name, const char* text) {
  auto* button = new QPushButton(QString::fromLatin1(text));
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  return button;
}

}  // namespace

void CustomLayoutModel::load() {
  std::vector<KeyMapping> mappings;
  for (const auto& [layer, keys] : CustomLayoutFile::read().overrides)
    for (const auto& [key, output] : keys) mappings.push_back({key, layer, output});
  std::stable_sort(mappings.begin(), mappings.end(), [](const KeyMapping& a, const KeyMapping& b) {
    const QString la = a.layer.normalized(QString::NormalizationForm_C);
    const QString lb = b.layer.normalized(QString::NormalizationForm_C);
    if (la != lb) return la < lb;
    return a.key.normalized(QString::NormalizationForm_C) <
           b.key.normalized(QString::NormalizationForm_C);
  });
  beginResetModel();
  mappings_ = std::move(mappings);
  endResetModel();
}

int CustomLayoutModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(mappings_.size());
}

int CustomLayoutModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columnCount_;
}

QVariant CustomLayoutModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const KeyMapping& mapping = mappings_[static_cast<size_t>(index.row())];
  if (role == kLayerRole) return mapping.layer;
  if (role == Qt::FontRole && index.column() == keyColumn)
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case keyColumn:
      return mapping.key;
    case layerColumn:
      return mapping.layer;
    case outputColumn:
      return mapping.output;
  }
  return {};
}

QVariant CustomLayoutModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case keyColumn:
      return QStringLiteral("Key");
    case layerColumn:
      return QStringLiteral("Layer");
    case outputColumn:
      return QStringLiteral("Output");
  }
  return {};
}

CustomLayoutEditor::CustomLayoutEditor(QWidget* parent) : QWidget(parent) {
  shown_.setSourceModel(&model_);

  auto* heading = new QLabel(QStringLiteral("Custom Key Mappings"));
  QFont headingFont = heading->font();
  headingFont.setPointSizeF(headingFont.pointSizeF() * 1.3);
  headingFont.setWeight(QFont::DemiBold);
  heading->setFont(headingFont);
  auto* note = new QLabel(QStringLiteral(
      "Override key mappings for fixed layouts (Probhat/National/Unijoy). These overrides "
      "are applied on top of the default layout."));
  note->setWordWrap(true);
  secondarytext::follow(note);
  table_ = settingsui::makeListTable("mappings", &shown_);
  table_->setColumnWidth(CustomLayoutModel::keyColumn, 80);
  table_->setColumnWidth(CustomLayoutModel::layerColumn, 100);
  table_->setItemDelegateForColumn(CustomLayoutModel::layerColumn,
                                   new secondarytext::Delegate(table_));

  keyField_ = new QLineEdit;
  keyField_->setObjectName(QStringLiteral("key"));
  keyField_->setPlaceholderText(QStringLiteral("Key (e.g. a)"));
  secondarytext::follow(keyField_);
  keyField_->setFixedWidth(80);
  layer_ = new QComboBox;
  layer_->setObjectName(QStringLiteral("layer"));
  layer_->addItems({QStringLiteral("default"), QStringLiteral("shift"), QStringLiteral("alt"),
                    QStringLiteral("shift_alt")});
  outputField_ = new QLineEdit;
  outputField_->setObjectName(QStringLiteral("output"));
  outputField_->setPlaceholderText(QStringLiteral("Output (e.g. ক)"));
  secondarytext::follow(outputField_);
  outputField_->setMinimumWidth(100);
  QPushButton* add = makeButton("add", "Add");
  QPushButton* remove = makeButton("removeSelected", "Remove Selected");
  QPushButton* reset = makeButton("resetAll", "Reset All");

  auto* entry = new QHBoxLayout;
  entry->setSpacing(8);
  entry->addWidget(keyField_);
  entry->addWidget(layer_);
  entry->addWidget(outputField_, 1);
  entry->addWidget(add);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(10);
  buttons->addWidget(remove);
  buttons->addWidget(reset);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->setSpacing(10);
  layout->addWidget(heading);
  layout->addWidget(note);
  layout->addWidget(table_, 1);
  layout->addLayout(entry);
  layout->addLayout(buttons);

  connect(add, &QPushButton::clicked, this, &CustomLayoutEditor::addMapping);
  connect(remove, &QPushButton::clicked, this, &CustomLayoutEditor::removeSelected);
  connect(reset, &QPushButton::clicked, this, &CustomLayoutEditor::resetAll);

  setWindowFlags(Qt::Window);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QStringLiteral("Custom Key Mappings"));
  resize(520, 460);
  setMinimumSize(400, 300);
}

void CustomLayoutEditor::reload() { model_.load(); }

void CustomLayoutEditor::addMapping() {
  const QString key = keyField_->text().trimmed();
  const QString output = outputField_->text().trimmed();
  const QString layer =
      layer_->currentIndex() >= 0 ? layer_->currentText() : QStringLiteral("default");
  if (key.isEmpty() || output.isEmpty()) return;
  // The engine would not type it; the fields keep the text, to be shortened.
  if (output.toUcs4().size() > CustomLayoutFile::kMaxOutputCharacters) {
    dialogs::current().showAlert(
        this, {outputTooLongMessage(), dialogs::AlertStyle::warning, QStringLiteral("OK")});
    return;
  }
  // A failed write is logged by the file; the table shows what the file holds after it.
  (void)CustomLayoutFile::update(
      [&](CustomLayoutFile::Overrides& overrides) { overrides[layer][key] = output; });
  keyField_->clear();
  outputField_->clear();
  reload();
  AppSettings::postDidChange(true);
}

void CustomLayoutEditor::removeSelected() {
  const QModelIndexList rows = table_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  // The rows as shown name what goes; the file is read afresh.
  std::vector<KeyMapping> chosen;
  for (const QModelIndex& index : rows) {
    const QModelIndex source = shown_.mapToSource(index);
    chosen.push_back(model_.mappings()[static_cast<size_t>(source.row())]);
  }
  (void)CustomLayoutFile::update([&](CustomLayoutFile::Overrides& overrides) {
    for (const KeyMapping& mapping : chosen) {
      const auto layer = overrides.find(mapping.layer);
      // A layer emptied this way stays in the file as an empty object.
      if (layer != overrides.end()) layer->second.erase(mapping.key);
    }
  });
  reload();
  AppSettings::postDidChange(true);
}

void CustomLayoutEditor::resetAll() {
  (void)CustomLayoutFile::remove();
  reload();
  AppSettings::postDidChange(true);
}

CustomLayoutEditorController& CustomLayoutEditorController::shared() {
  // Never released: destroying widgets after the application object at exit would crash.
  static CustomLayoutEditorController* const instance = new CustomLayoutEditorController();
  return *instance;
}

CustomLayoutEditorController::CustomLayoutEditorController()
    : window_(std::make_unique<CustomLayoutEditor>()) {
  window_->setObjectName(QStringLiteral("customLayoutWindow"));
  centerOnScreen(window_.get());
}

CustomLayoutEditorController::~CustomLayoutEditorController() = default;

void CustomLayoutEditorController::showWindow() {
  window_->reload();
  openWindow(window_.get());
}

}  // namespace tolvani
