// The settings window's About tab: the program's icon, name, version and description, the update
// page, the credits and contact links, and the install page of the iPhone app as a QR code with
// buttons that copy or open its address. Writes nothing. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_ABOUTTAB_H_
#define TOLVANI_WINDOWS_ABOUTTAB_H_

#include <QImage>
#include <QUrl>
#include <QWidget>
#include <optional>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tolvani {

// The QR code of `text` (its UTF-8 bytes, error correction M), one black or white pixel per
// module with no border; none when the text cannot be encoded.
std::optional<QImage> qrCodeImage(const QString& text);

// The QR code on its white rounded card, drawn at 118 × 118 without smoothing.
class QrCodeView : public QWidget {
  Q_OBJECT

 public:
  explicit QrCodeView(QImage modules, QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;  // the modules scaled by 10
};

class AboutTab : public QWidget {
  Q_OBJECT

 public:
  explicit AboutTab(QWidget* parent = nullptr);

  void updateTexts();

  static QUrl developerWebsiteURL();
  static QUrl facebookPageURL();
  static QUrl supportEmailURL();
  static QUrl installOniPhoneURL();
  // "v" and the short version, "v1.0" when the build gave none.
  static QString versionLine();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void updateIcons();

  QLabel* icon_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* subtitle_ = nullptr;
  QPushButton* updates_ = nullptr;
  QLabel* dedication_ = nullptr;
  QLabel* developerLabel_ = nullptr;
  QLabel* developer_ = nullptr;
  QPushButton* website_ = nullptr;
  QPushButton* facebook_ = nullptr;
  QPushButton* mail_ = nullptr;
  QLabel* engine_ = nullptr;
  QGroupBox* installSection_ = nullptr;
  QrCodeView* qrCode_ = nullptr;  // null when the code could not be made
  QLabel* scanHint_ = nullptr;
  QPushButton* share_ = nullptr;
  QPushButton* open_ = nullptr;
  // Every widget above is owned by this widget's layouts.
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_ABOUTTAB_H_
