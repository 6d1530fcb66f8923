#include "windows/ViewWindow.h"

#include <QLayout>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>

#include "settings/Dialogs.h"

namespace tolvani {

void setUpViewWindow(QWidget* window, QWidget* view, const QString& title) {
  // Titled, closable and minimisable; the user does not resize it.
  window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(view);
  window->setWindowTitle(title);
  layout->activate();
  centerOnScreen(window);
}

void replaceView(QWidget* window, QWidget* old, QWidget* fresh) {
  // The layout hands back the old item, which is ours to delete.
  delete window->layout()->replaceWidget(old, fresh);
  delete old;
  // A child added to a window already on screen stays hidden until told otherwise.
  fresh->show();
}

}  // namespace tolvani
