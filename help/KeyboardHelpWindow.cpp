#include "help/KeyboardHelpWindow.h"

#include <QEvent>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include "help/KeyboardHelpController.h"
#include "settings/Dialogs.h"

namespace tolvani {
namespace {

// A read-only, selectable text view that wraps at its width and scrolls only vertically.
QTextEdit* makeTextView() {
  auto* view = new QTextEdit;
  view->setReadOnly(true);
  view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  view->setAutoFillBackground(true);
  view->viewport()->setBackgroundRole(QPalette::Base);
  view->document()->setDocumentMargin(16);
  view->setLineWrapMode(QTextEdit::WidgetWidth);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  return view;
}

}  // namespace

KeyboardHelpWindow::KeyboardHelpWindow(QWidget* parent) : QWidget(parent) {
  tabView_ = new QTabWidget;

  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QStringLiteral("কীবোর্ড লে-আউট সাহায্য"));
  resize(680, 620);
  setMinimumSize(550, 400);

  const struct {
    const char* identifier;
    QString label;
    HelpText content;
  } tabs[] = {
      {"phonetic", QStringLiteral("ফোনেটিক"), KeyboardHelpController::buildPhoneticContent()},
      {"probhat", QStringLiteral("প্রভাত"),
       KeyboardHelpController::buildFixedLayoutContent(QStringLiteral("probhat"))},
      {"national", QStringLiteral("জাতীয়"),
       KeyboardHelpController::buildFixedLayoutContent(QStringLiteral("national"))},
      {"unijoy", QStringLiteral("ইউনিজয়"),
       KeyboardHelpController::buildFixedLayoutContent(QStringLiteral("unijoy"))},
      {"conjunct", QStringLiteral("যুক্তবর্ণ"), KeyboardHelpController::buildConjunctContent()},
  };
  for (const auto& tab : tabs) {
    QTextEdit* view = makeTextView();
    view->setObjectName(QString::fromLatin1(tab.identifier));
    tabView_->addTab(view, tab.label);
    tabs_.push_back({view, tab.content});
  }
  updateColors();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(tabView_);

  centerOnScreen(this);
}

void KeyboardHelpWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) updateColors();
}

void KeyboardHelpWindow::updateColors() {
  for (const Tab& tab : tabs_) {
    // The text is written in colours, not roles: it is written again in the new ones.
    QScrollBar* scroller = tab.view->verticalScrollBar();
    const int place = scroller->value();
    // The window's palette: its children take theirs from it only after this event.
    tab.content.writeTo(*tab.view->document(), palette());
    tab.view->moveCursor(QTextCursor::Start);
    scroller->setValue(place);
  }
}

}  // namespace tolvani
