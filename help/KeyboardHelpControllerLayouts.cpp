// The probhat, national and unijoy tabs, drawn from the layout documents the program carries: the
// same documents the engine types with, so the help shows what the engine types.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <algorithm>
#include <utility>
#include <vector>

#include "help/KeyboardHelpController.h"
#include "platform/Bundle.h"

namespace tolvani {
namespace {

constexpr int kRuleLength = 50;
constexpr int kKeyColumn = 3;
constexpr int kOutputColumn = 4;

using KeyRows = std::vector<QStringList>;

// One key per character, each a one-character string.
QStringList keysOf(QStringView row) {
  QStringList keys;
  for (QChar key : row) keys.append(QString(key));
  return keys;
}

// The keys of a US keyboard, row by row; the space bar and the alt layer have no fixed rows.
KeyRows defaultKeyRows() {
  return {keysOf(u"`1234567890-="), keysOf(u"qwertyuiop[]\\"), keysOf(u"asdfghjkl;'"),
          keysOf(u"zxcvbnm,./")};
}

KeyRows shiftKeyRows() {
  return {keysOf(u"~!@#$%^&*()_+"), keysOf(u"QWERTYUIOP{}|"), keysOf(u"ASDFGHJKL:\""),
          keysOf(u"ZXCVBNM<>?")};
}

// Invisible joiners get a name in the default and shift rows.
QString displayName(const QString& output) {
  if (output == QChar(0x200C)) return QStringLiteral("ZWNJ");
  if (output == QChar(0x200D)) return QStringLiteral("ZWJ");
  return output;
}

void appendEntry(HelpText& line, const QString& key, const QString& shown) {
  line.append(padded(key, kKeyColumn), TextStyle::keyStyle);
  line.append(QStringLiteral("→"), TextStyle::mutedStyle);
  line.append(padded(shown, kOutputColumn), TextStyle::outputStyle);
  line.append(QStringLiteral("  "), TextStyle::monoStyle);
}

void renderLayer(HelpText& text, const KeyRows& rows, const std::map<QString, QString>& layer) {
  for (const QStringList& keys : rows) {
    HelpText line;
    for (const QString& key : keys) {
      const auto found = layer.find(key);
      appendEntry(line, key, displayName(found == layer.end() ? key : found->second));
    }
    line.append(QStringLiteral("\n"), TextStyle::monoStyle);
    text.append(line);
  }
}

// A layer that is absent, not an object, or holds any value that is not a string is empty.
std::map<QString, QString> stringMap(const QJsonValue& value) {
  std::map<QString, QString> result;
  if (!value.isObject()) return result;
  const QJsonObject object = value.toObject();
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (!it.value().isString()) return {};
    result.emplace(it.key(), it.value().toString());
  }
  return result;
}

}  // namespace

std::optional<LayoutData> KeyboardHelpController::loadLayout(const QString& name) {
  QFile file(
      platform::bundle::resourcePath(QStringLiteral("layouts/") + name + QStringLiteral(".json")));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return std::nullopt;
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonValue layers = document.object().value(QStringLiteral("layers"));
  if (!layers.isObject()) return std::nullopt;
  const QJsonObject object = layers.toObject();
  LayoutData data{stringMap(object.value(QStringLiteral("default"))),
                  stringMap(object.value(QStringLiteral("shift"))),
                  stringMap(object.value(QStringLiteral("alt"))),
                  {},
                  {}};
  const QJsonObject link = document.object().value(QStringLiteral("link")).toObject();
  const QString linkKey = link.value(QStringLiteral("key")).toString();
  std::map<QString, QString> then = stringMap(link.value(QStringLiteral("then")));
  if (linkKey.size() == 1 && !then.empty()) {
    data.linkKey = linkKey;
    data.linkThen = std::move(then);
  }
  return data;
}

HelpText KeyboardHelpController::buildFixedLayoutContent(const QString& layoutName) {
  HelpText text;
  text.setCompactRows(true);
  const QString displayName = layoutName == QStringLiteral("probhat") ? QStringLiteral("প্রভাত")
                              : layoutName == QStringLiteral("unijoy")
                                  ? QStringLiteral("ইউনিজয় (Unijoy)")
                                  : QStringLiteral("জাতীয় (National)");
  text.append(displayName + QStringLiteral(" লে-আউট রেফারেন্স\n\n"), TextStyle::titleStyle);

  const std::optional<LayoutData> layout = loadLayout(layoutName);
  if (!layout) {
    text.append(QStringLiteral("লে-আউট লোড করা যায়নি।"), TextStyle::bodyStyle);
    return text;
  }
  text.header(QStringLiteral("সাধারণ (Default Layer)"), kRuleLength);
  renderLayer(text, defaultKeyRows(), layout->defaultLayer);
  text.header(QStringLiteral("শিফট (Shift Layer)"), kRuleLength);
  renderLayer(text, shiftKeyRows(), layout->shiftLayer);
  if (!layout->altLayer.empty()) {
    // The fixed layouts' Option layer is typed with AltGr here; Alt belongs to the application.
    text.header(QStringLiteral("AltGr Layer"), kRuleLength);
    HelpText line;
    for (const auto& [key, output] : layout->altLayer) appendEntry(line, key, output);
    line.append(QStringLiteral("\n"), TextStyle::monoStyle);
    text.append(line);
  }
  if (!layout->linkThen.empty()) {
    // The link key's pairs in the order of what they give: the vowels, then the rest.
    std::vector<std::pair<QString, QString>> pairs(layout->linkThen.begin(),
                                                   layout->linkThen.end());
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
      const auto rank = [](const QString& s) {
        return std::pair(s.isEmpty() || s.front() < QChar(0x0980), s);
      };
      return rank(a.second) < rank(b.second);
    });
    text.header(QStringLiteral("লিংক কী (Link Key) ") + layout->linkKey, kRuleLength);
    HelpText line;
    for (const auto& [key, output] : pairs) appendEntry(line, layout->linkKey + key, output);
    line.append(QStringLiteral("\n"), TextStyle::monoStyle);
    text.append(line);
    text.append(
        QStringLiteral("%1 হসন্ত (্) দেয়; এর পরে ওপরের কোনো কী ছাড়া অন্য কী চাপলে হসন্ত থেকে যায়।\n")
            .arg(layout->linkKey),
        TextStyle::bodyStyle);
  }
  text.append(QStringLiteral("\n"), TextStyle::bodyStyle);
  text.append(QStringLiteral("টিপ: হসন্ত (্) দিয়ে দুটি বর্ণ যুক্ত করুন, যেমন ক + ্ + ত = ক্ত\n"),
              TextStyle::bodyStyle);
  return text;
}

}  // namespace tolvani
