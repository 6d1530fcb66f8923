#include "stats/DiagnosticsView.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "stats/RuntimeDiagnostics.h"

namespace tolvani {
namespace {

QString pick(const char16_t* english, const char16_t* bangla) {
  return QString::fromUtf16(AppSettings::isBanglaUI() ? bangla : english);
}

QToolButton* makeToolButton(const QString& iconName) {
  auto* button = new QToolButton;
  button->setIcon(QIcon::fromTheme(iconName));
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(true);
  return button;
}

}  // namespace

QString DiagnosticsView::titleText() { return pick(u"Diagnostics", u"ডায়াগনস্টিকস"); }
QString DiagnosticsView::refreshText() { return pick(u"Refresh", u"হালনাগাদ"); }
QString DiagnosticsView::shareText() { return pick(u"Share", u"শেয়ার"); }

DiagnosticsView::DiagnosticsView(QWidget* parent) : QWidget(parent) {
  title_ = new QLabel;
  title_->setObjectName(QStringLiteral("title"));
  QFont titleFont = title_->font();
  titleFont.setBold(true);
  title_->setFont(titleFont);

  refreshButton_ = makeToolButton(QStringLiteral("view-refresh"));
  refreshButton_->setObjectName(QStringLiteral("refresh"));
  connect(refreshButton_, &QToolButton::clicked, this, &DiagnosticsView::refresh);
  shareButton_ = makeToolButton(QStringLiteral("edit-copy"));
  shareButton_->setObjectName(QStringLiteral("share"));
  connect(shareButton_, &QToolButton::clicked, this, &DiagnosticsView::share);

  reportView_ = new QPlainTextEdit;
  reportView_->setObjectName(QStringLiteral("report"));
  reportView_->setReadOnly(true);
  reportView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  reportView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  reportView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reportView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // The report is English only: a monospaced font a little smaller than the body text keeps the
  // JSON's columns and fits more of it.
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const qreal bodySize = QApplication::font().pointSizeF();
  if (bodySize > 2) mono.setPointSizeF(bodySize - 1);
  reportView_->setFont(mono);

  auto* bar = new QHBoxLayout;
  bar->addWidget(title_);
  bar->addStretch(1);
  bar->addWidget(refreshButton_);
  bar->addWidget(shareButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(reportView_, 1);

  updateTexts();
  setReport(RuntimeDiagnostics::report());
}

void DiagnosticsView::refresh() {
  updateTexts();
  setReport(RuntimeDiagnostics::report());
}

void DiagnosticsView::share() { QGuiApplication::clipboard()->setText(report_); }

void DiagnosticsView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window brought back from the minimised state is not a new appearance of the page.
  if (event->spontaneous()) return;
  RuntimeDiagnostics::flush();
  refresh();
}

void DiagnosticsView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) updateTexts();
}

void DiagnosticsView::setReport(const QString& report) {
  report_ = report;
  // Keeps the reader's place when nothing changed, as a refresh that finds the same text should.
  if (reportView_->toPlainText() != report_) reportView_->setPlainText(report_);
}

void DiagnosticsView::updateTexts() {
  const QString title = titleText();
  title_->setText(title);
  setWindowTitle(title);
  refreshButton_->setText(refreshText());
  shareButton_->setText(shareText());
}

}  // namespace tolvani
