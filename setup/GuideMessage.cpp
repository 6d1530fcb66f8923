#include "setup/GuideMessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace tolvani {

std::optional<GuideMessage> GuideMessage::parse(const QString& json) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject body = document.object();
  const QJsonValue action = body.value(QLatin1String("action"));
  if (!action.isString()) return std::nullopt;
  GuideMessage message;
  message.action = action.toString();
  const QJsonValue session = body.value(QLatin1String("session"));
  if (session.isString()) message.session = session.toString();
  const QJsonValue text = body.value(QLatin1String("text"));
  if (text.isString()) message.text = text.toString();
  return message;
}

std::optional<int> guideTourChapter(const QString& text) {
  qsizetype at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-'))) {
    negative = text[at] == QLatin1Char('-');
    ++at;
  }
  if (at == text.size()) return std::nullopt;
  int value = 0;
  for (; at < text.size(); ++at) {
    const char16_t c = text[at].unicode();
    if (c < u'0' || c > u'9') return std::nullopt;
    // Leading zeros keep the value small; anything past 4 is out of range however long it is.
    value = std::min(value * 10 + (c - u'0'), 10);
  }
  if (negative && value != 0) return std::nullopt;
  if (value > 4) return std::nullopt;
  return value;
}

}  // namespace tolvani
