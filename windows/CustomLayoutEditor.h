// The custom key mappings editor: the overrides of custom-layout.json in a table, with adding one,
// removing the selected ones and deleting them all. Every change rewrites the file from a fresh
// read and announces a user-data reload, so that the engines type the new mappings. Its texts are
// English only, but for the refusal of an output too long to type, which follows the interface
// language. One window per process, built once. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_CUSTOMLAYOUTEDITOR_H_
#define TOLVANI_WINDOWS_CUSTOMLAYOUTEDITOR_H_

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <memory>
#include <vector>

class QComboBox;
class QLineEdit;
class QTableView;

namespace tolvani {

struct KeyMapping {
  QString key;
  QString layer;
  QString output;
  bool operator==(const KeyMapping&) const = default;
};

// The mappings ordered by layer, then key.
class CustomLayoutModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { keyColumn, layerColumn, outputColumn, columnCount_ };
  static constexpr int kLayerRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;

  // Reads the file afresh; an unreadable one has no mappings.
  void load();
  const std::vector<KeyMapping>& mappings() const { return mappings_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<KeyMapping> mappings_;
};

class CustomLayoutEditor : public QWidget {
  Q_OBJECT

 public:
  explicit CustomLayoutEditor(QWidget* parent = nullptr);

  void reload();

 private:
  void addMapping();
  void removeSelected();
  void resetAll();

  CustomLayoutModel model_;
  QSortFilterProxyModel shown_;
  QTableView* table_ = nullptr;
  QLineEdit* keyField_ = nullptr;
  QComboBox* layer_ = nullptr;
  QLineEdit* outputField_ = nullptr;
  // Every widget above is owned by this widget's layouts.
};

class CustomLayoutEditorController {
 public:
  static CustomLayoutEditorController& shared();
  CustomLayoutEditorController(const CustomLayoutEditorController&) = delete;
  CustomLayoutEditorController& operator=(const CustomLayoutEditorController&) = delete;

  // Reads the file again, then shows the window.
  void showWindow();
  CustomLayoutEditor* window() const { return window_.get(); }

 private:
  CustomLayoutEditorController();
  ~CustomLayoutEditorController();

  std::unique_ptr<CustomLayoutEditor> window_;
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_CUSTOMLAYOUTEDITOR_H_
