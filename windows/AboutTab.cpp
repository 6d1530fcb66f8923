#include "windows/AboutTab.h"

#include <qrencode.h>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Bundle.h"
#include "settings/AppSettings.h"
#include "settings/SecondaryText.h"
#include "settings/UIStrings.h"
#include "windows/SettingsWidgets.h"

namespace tolvani {
namespace {

constexpr int kModulePixels = 10;
constexpr int kCodeSide = 118;
constexpr int kCardPadding = 10;

QPushButton* makeLink(const char* name, const QUrl& url) {
  QPushButton* button = settingsui::makeLinkButton(name);
  button->setToolTip(url.toDisplayString());
  QObject::connect(button, &QPushButton::clicked, button,
                   [url] { QDesktopServices::openUrl(url); });
  return button;
}

// The icon the package installs into the desktop's icon theme, else the application's own.
QIcon programIcon() {
  const QIcon installed = QIcon::fromTheme(QStringLiteral("tolvani"));
  if (!installed.isNull()) return installed;
  return QApplication::windowIcon();
}

}  // namespace

std::optional<QImage> qrCodeImage(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  QRcode* code =
      QRcode_encodeData(static_cast<int>(bytes.size()),
                        reinterpret_cast<const unsigned char*>(bytes.constData()), 0, QR_ECLEVEL_M);
  if (code == nullptr) return std::nullopt;
  QImage image(code->width, code->width, QImage::Format_Mono);
  image.setColor(0, qRgb(255, 255, 255));
  image.setColor(1, qRgb(0, 0, 0));
  for (int y = 0; y < code->width; ++y)
    for (int x = 0; x < code->width; ++x) image.setPixel(x, y, code->data[y * code->width + x] & 1);
  QRcode_free(code);
  return image;
}

QrCodeView::QrCodeView(QImage modules, QWidget* parent)
    : QWidget(parent),
      image_(modules.scaled(modules.size() * kModulePixels, Qt::IgnoreAspectRatio,
                            Qt::FastTransformation)) {
  setFixedSize(sizeHint());
}

QSize QrCodeView::sizeHint() const {
  return QSize(kCodeSide + 2 * kCardPadding, kCodeSide + 2 * kCardPadding);
}

void QrCodeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // Black on white whatever the palette: scanners read dark modules on a light ground.
  QPainterPath card;
  card.addRoundedRect(QRectF(rect()), 14, 14);
  painter.fillPath(card, Qt::white);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(QRect(kCardPadding, kCardPadding, kCodeSide, kCodeSide), image_);
}

QUrl AboutTab::developerWebsiteURL() {
  static const QUrl url(QStringLiteral("https://tolvani.org/"));
  return url;
}
QUrl AboutTab::facebookPageURL() {
  static const QUrl url(QStringLiteral("https://www.facebook.com/tolvani.org"));
  return url;
}
QUrl AboutTab::supportEmailURL() {
  static const QUrl url(QStringLiteral("mailto:support@tolvani.org"));
  return url;
}
QUrl AboutTab::installOniPhoneURL() {
  static const QUrl url(QStringLiteral("https://tolvani.org/install/?platform=ios"));
  return url;
}

QString AboutTab::versionLine() {
  const QString version = platform::bundle::shortVersion();
  return QStringLiteral("v") + (version.isEmpty() ? QStringLiteral("1.0") : version);
}

AboutTab::AboutTab(QWidget* parent) : QWidget(parent) {
  // Identity
  auto* identityBox = new QGroupBox;
  auto* identityRows = new QVBoxLayout(identityBox);
  auto* identity = new QHBoxLayout;
  identity->setSpacing(16);
  icon_ = new QLabel;
  icon_->setObjectName(QStringLiteral("icon"));
  icon_->setFixedSize(64, 64);
  icon_->setAlignment(Qt::AlignCenter);
  identity->addWidget(icon_);
  auto* names = new QVBoxLayout;
  names->setSpacing(3);
  title_ = new QLabel;
  QFont titleFont = title_->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  titleFont.setWeight(QFont::DemiBold);
  title_->setFont(titleFont);
  version_ = new QLabel;
  version_->setObjectName(QStringLiteral("version"));
  secondarytext::follow(version_);
  subtitle_ = settingsui::makeSecondaryLabel();
  names->addWidget(title_);
  names->addWidget(version_);
  names->addWidget(subtitle_);
  identity->addLayout(names, 1);
  identityRows->addLayout(identity);
  updates_ = makeLink("checkForUpdates", AppSettings::updateCheckURL());
  identityRows->addWidget(updates_);

  auto* dedicationBox = new QGroupBox;
  auto* dedicationRows = new QVBoxLayout(dedicationBox);
  dedication_ = settingsui::makeSecondaryLabel();
  dedicationRows->addWidget(dedication_);

  QFormLayout* creditRows = nullptr;
  QGroupBox* creditBox = settingsui::makeSection(&creditRows);
  developerLabel_ = new QLabel;
  developer_ = new QLabel;
  secondarytext::follow(developer_);
  developer_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  creditRows->addRow(developerLabel_, developer_);
  website_ = makeLink("developerWebsite", developerWebsiteURL());
  creditRows->addRow(website_);
  facebook_ = makeLink("facebookPage", facebookPageURL());
  creditRows->addRow(facebook_);
  mail_ = makeLink("supportEmail", supportEmailURL());
  creditRows->addRow(mail_);
  engine_ = settingsui::makeSecondaryLabel();
  creditRows->addRow(engine_);

  installSection_ = new QGroupBox;
  auto* install = new QHBoxLayout(installSection_);
  install->setSpacing(20);
  if (const std::optional<QImage> modules = qrCodeImage(installOniPhoneURL().toString())) {
    qrCode_ = new QrCodeView(*modules);
    qrCode_->setObjectName(QStringLiteral("qrCode"));
    install->addWidget(qrCode_, 0, Qt::AlignVCenter);
  }
  auto* installColumn = new QVBoxLayout;
  installColumn->setSpacing(9);
  scanHint_ = settingsui::makeSecondaryLabel();
  installColumn->addWidget(scanHint_);
  share_ = new QPushButton;
  share_->setObjectName(QStringLiteral("shareInstallLink"));
  // The desktop has no share sheet: the address goes on the clipboard, as the diagnostics page
  // shares its report.
  connect(share_, &QPushButton::clicked, this,
          [] { QGuiApplication::clipboard()->setText(installOniPhoneURL().toString()); });
  installColumn->addWidget(share_, 0, Qt::AlignLeft);
  open_ = makeLink("openInstallPage", installOniPhoneURL());
  installColumn->addWidget(open_, 0, Qt::AlignLeft);
  installColumn->addStretch(1);
  install->addLayout(installColumn, 1);

  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  column->addWidget(identityBox);
  column->addWidget(dedicationBox);
  column->addWidget(creditBox);
  column->addWidget(installSection_);
  column->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(settingsui::makeScrollPage(content));

  updateTexts();
}

void AboutTab::updateTexts() {
  title_->setText(UIStrings::appTitle());
  version_->setText(versionLine());
  subtitle_->setText(UIStrings::subtitle());
  updates_->setText(settingsui::plain(UIStrings::checkForUpdates()));
  dedication_->setText(UIStrings::dedication());
  developerLabel_->setText(UIStrings::developerLabel());
  developer_->setText(UIStrings::developedBy());
  website_->setText(settingsui::plain(UIStrings::developerWebsite()));
  facebook_->setText(settingsui::plain(UIStrings::facebookPage()));
  mail_->setText(settingsui::plain(supportEmailURL().path()));
  engine_->setText(UIStrings::engineCredit());
  installSection_->setTitle(settingsui::plain(UIStrings::installOnPhone()));
  if (qrCode_) qrCode_->setAccessibleName(UIStrings::installQrCode());
  scanHint_->setText(UIStrings::installScanHint());
  share_->setText(settingsui::plain(UIStrings::shareInstallLink()));
  open_->setText(settingsui::plain(UIStrings::openInstallPage()));
  updateIcons();
}

void AboutTab::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) updateIcons();
}

void AboutTab::updateIcons() {
  const QColor ink = palette().color(QPalette::ButtonText);
  using settingsui::symbolIcon;
  QIcon icon = programIcon();
  if (icon.isNull()) icon = symbolIcon(QStringLiteral("input-keyboard"), QStringLiteral("ত"), ink);
  icon_->setPixmap(icon.pixmap(64, 64));
  updates_->setIcon(
      symbolIcon(QStringLiteral("software-update-available"), QStringLiteral("⇩"), ink));
  website_->setIcon(symbolIcon(QStringLiteral("applications-internet"), QStringLiteral("◍"), ink));
  facebook_->setIcon(symbolIcon(QStringLiteral("system-users"), QStringLiteral("☺"), ink));
  mail_->setIcon(symbolIcon(QStringLiteral("mail-message-new"), QStringLiteral("✉"), ink));
  share_->setIcon(symbolIcon(QStringLiteral("edit-copy"), QStringLiteral("↑"), ink));
  open_->setIcon(symbolIcon(QStringLiteral("web-browser"), QStringLiteral("◎"), ink));
}

}  // namespace tolvani
