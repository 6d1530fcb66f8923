#include "settings/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace tolvani {

void openWindow(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

void centerOnScreen(QWidget* window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
  }
}

namespace dialogs {
namespace {

std::optional<QString> runFileDialog(QFileDialog& dialog) {
  // This process may not be the active one: bring the dialog to the front once it is up.
  QTimer::singleShot(0, &dialog, [&dialog] {
    dialog.raise();
    dialog.activateWindow();
  });
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  return files.first();
}

class DesktopDialogs final : public Dialogs {
 public:
  std::optional<QString> chooseSaveFile(QWidget* parent, const QString& suggestedName,
                                        const QStringList& nameFilters) override {
    return runFileDialog(*makeSaveDialog(parent, suggestedName, nameFilters));
  }
  std::optional<QString> chooseOpenFile(QWidget* parent, const QStringList& nameFilters) override {
    return runFileDialog(*makeOpenDialog(parent, nameFilters));
  }
  void showAlert(QWidget* parent, const Alert& alert) override {
    makeAlertBox(parent, alert)->exec();
  }
  bool confirm(QWidget* parent, const Confirmation& confirmation) override {
    const std::unique_ptr<QMessageBox> box = makeConfirmationBox(parent, confirmation);
    box->exec();
    return box->buttonRole(box->clickedButton()) == QMessageBox::DestructiveRole;
  }
};

Dialogs* g_testDialogs = nullptr;

// Boxes are parented to their window, so they are modal over it and centred on it; a box with no
// window to belong to is modal over the application.
std::unique_ptr<QMessageBox> makeBox(QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(parent ? parent->window() : nullptr);
  box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  // Texts may hold the user's file names or words: never markup.
  box->setTextFormat(Qt::PlainText);
  return box;
}

}  // namespace

Dialogs& current() {
  static DesktopDialogs desktop;
  return g_testDialogs != nullptr ? *g_testDialogs : desktop;
}

void testSetDialogs(Dialogs* dialogs) { g_testDialogs = dialogs; }

std::unique_ptr<QFileDialog> makeSaveDialog(QWidget* parent, const QString& suggestedName,
                                            const QStringList& nameFilters) {
  auto dialog = std::make_unique<QFileDialog>(parent ? parent->window() : nullptr);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilters(nameFilters);
  dialog->setDefaultSuffix(QStringLiteral("json"));
  dialog->setDirectory(QDir::homePath());
  dialog->selectFile(suggestedName);
  return dialog;
}

std::unique_ptr<QFileDialog> makeOpenDialog(QWidget* parent, const QStringList& nameFilters) {
  auto dialog = std::make_unique<QFileDialog>(parent ? parent->window() : nullptr);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilters(nameFilters);
  dialog->setDirectory(QDir::homePath());
  return dialog;
}

std::unique_ptr<QMessageBox> makeAlertBox(QWidget* parent, const Alert& alert) {
  std::unique_ptr<QMessageBox> box = makeBox(parent);
  box->setIcon(alert.style == AlertStyle::warning ? QMessageBox::Warning
                                                  : QMessageBox::Information);
  box->setText(alert.text);
  QPushButton* button = box->addButton(alert.button, QMessageBox::AcceptRole);
  box->setDefaultButton(button);
  box->setEscapeButton(button);
  return box;
}

std::unique_ptr<QMessageBox> makeConfirmationBox(QWidget* parent,
                                                 const Confirmation& confirmation) {
  std::unique_ptr<QMessageBox> box = makeBox(parent);
  box->setIcon(QMessageBox::Warning);
  box->setText(confirmation.title);
  box->setInformativeText(confirmation.message);
  QPushButton* confirm = box->addButton(confirmation.confirmButton, QMessageBox::DestructiveRole);
  confirm->setObjectName(QStringLiteral("confirm"));
  QPushButton* cancel = box->addButton(confirmation.cancelButton, QMessageBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancel"));
  // Return must not destroy anything by accident.
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  return box;
}

}  // namespace dialogs
}  // namespace tolvani
