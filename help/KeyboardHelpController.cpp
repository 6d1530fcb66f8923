#include "help/KeyboardHelpController.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>

namespace tolvani {
namespace {

// A read-only, selectable text view that wraps at its width and scrolls only vertically.
QTextEdit* makeTextView(const HelpText& content) {
  auto* view = new QTextEdit;
  view->setReadOnly(true);
  view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  view->setAutoFillBackground(true);
  view->viewport()->setBackgroundRole(QPalette::Base);
  view->document()->setDocumentMargin(16);
  view->setLineWrapMode(QTextEdit::WidgetWidth);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  content.writeTo(*view->document(), view->palette());
  view->moveCursor(QTextCursor::Start);  // the writing left the view at the end of the text
  return view;
}

}  // namespace

KeyboardHelpController& KeyboardHelpController::shared() {
  // Never released: the window must outlive every caller, and destroying widgets after the
  // application object at exit would crash.
  static KeyboardHelpController* const instance = new KeyboardHelpController();
  return *instance;
}

KeyboardHelpController::KeyboardHelpController() : window_(std::make_unique<QWidget>()) {
  tabView_ = new QTabWidget;

  window_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  window_->setWindowTitle(QStringLiteral("কীবোর্ড লে-আউট সাহায্য"));
  window_->resize(680, 620);
  window_->setMinimumSize(550, 400);

  const struct {
    const char* identifier;
    QString label;
    HelpText content;
  } tabs[] = {
      {"phonetic", QStringLiteral("ফোনেটিক"), buildPhoneticContent()},
      {"probhat", QStringLiteral("প্রভাত"), buildFixedLayoutContent(QStringLiteral("probhat"))},
      {"national", QStringLiteral("জাতীয়"), buildFixedLayoutContent(QStringLiteral("national"))},
      {"conjunct", QStringLiteral("যুক্তবর্ণ"), buildConjunctContent()},
  };
  for (const auto& tab : tabs) {
    QTextEdit* view = makeTextView(tab.content);
    view->setObjectName(QString::fromLatin1(tab.identifier));
    tabView_->addTab(view, tab.label);
  }

  auto* layout = new QVBoxLayout(window_.get());
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(tabView_);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = window_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window_->move(frame.topLeft());
  }
}

KeyboardHelpController::~KeyboardHelpController() = default;

void KeyboardHelpController::showWindow() {
  window_->show();
  window_->raise();
}

}  // namespace tolvani
