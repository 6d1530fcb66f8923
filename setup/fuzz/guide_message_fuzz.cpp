// Arbitrary bytes as a message from the guide page: reading never fails hard; what it reads
// survives being written as JSON and read again; a chapter number is only ever 0 to 4 and only
// from a sign and digits.
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>

#include "setup/GuideMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tolvani::GuideMessage;
  const QString json =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const std::optional<GuideMessage> message = GuideMessage::parse(json);
  if (message) {
    QJsonObject body{{QStringLiteral("action"), message->action},
                     {QStringLiteral("text"), message->text}};
    if (message->session) body.insert(QStringLiteral("session"), *message->session);
    const std::optional<GuideMessage> again =
        GuideMessage::parse(QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact)));
    if (!again || again->action != message->action || again->session != message->session ||
        again->text != message->text)
      std::abort();
  }
  const QString& text = message ? message->text : json;
  const std::optional<int> chapter = tolvani::guideTourChapter(text);
  if (chapter) {
    if (*chapter < 0 || *chapter > 4) std::abort();
    for (qsizetype i = 0; i < text.size(); ++i) {
      const QChar c = text[i];
      const bool sign = i == 0 && (c == QLatin1Char('+') || c == QLatin1Char('-'));
      if (!sign && (c < QLatin1Char('0') || c > QLatin1Char('9'))) std::abort();
    }
  }
  return 0;
}
