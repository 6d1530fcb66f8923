#include "setup/InputSourceSnapshot.h"

#include <QHash>
#include <QStringList>

namespace tolvani {

namespace {

const QString kPrefixWord = QStringLiteral("tolvani-state");

bool isLineBreak(QChar c) {
  switch (c.unicode()) {
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x85:
    case 0x2028:
    case 0x2029:
      return true;
    default:
      return false;
  }
}

// A key=value piece as its parts: equal signs before the key are passed over, and the value is
// everything after the key's equal sign.
QStringList pieceParts(const QString& piece) {
  qsizetype start = 0;
  while (start < piece.size() && piece[start] == QLatin1Char('=')) ++start;
  if (start == piece.size()) return {};
  const qsizetype equals = piece.indexOf(QLatin1Char('='), start);
  if (equals < 0) return {piece.mid(start)};
  const QString key = piece.mid(start, equals - start);
  const QString value = piece.mid(equals + 1);
  if (value.isEmpty()) return {key};
  return {key, value};
}

}  // namespace

// The raw values of the states are words of the state line.
QString InputSourceRegistration::rawValue(State state) {
  switch (state) {
    case State::notRegistered:
      return QStringLiteral("notRegistered");
    case State::notEnabled:
      return QStringLiteral("notEnabled");
    case State::enabled:
      return QStringLiteral("enabled");
  }
  return {};
}

std::optional<InputSourceRegistration::State> InputSourceRegistration::fromRawValue(
    const QString& raw) {
  for (State state : {State::notRegistered, State::notEnabled, State::enabled})
    if (raw == rawValue(state)) return state;
  return std::nullopt;
}

QStringList splitOutputLines(const QString& output) {
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i <= output.size(); ++i) {
    if (i == output.size() || isLineBreak(output[i])) {
      if (i > start) lines.append(output.mid(start, i - start));
      start = i + 1;
    }
  }
  return lines;
}

QString InputSourceSnapshot::line() const {
  return kPrefixWord + QStringLiteral(" status=") + InputSourceRegistration::rawValue(status) +
         QStringLiteral(" selected=") + (selected ? QLatin1Char('1') : QLatin1Char('0')) +
         (ibusRunning ? QString() : QStringLiteral(" ibus=0"));
}

std::optional<InputSourceSnapshot> InputSourceSnapshot::fromOutput(const QString& output) {
  const QStringList lines = splitOutputLines(output);
  const QString prefix = kPrefixWord + QLatin1Char(' ');
  const QString* stateLine = nullptr;
  for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
    if (it->startsWith(prefix)) {
      stateLine = &*it;
      break;
    }
  }
  if (stateLine == nullptr) return std::nullopt;

  const QStringList pieces = stateLine->split(QLatin1Char(' '), Qt::SkipEmptyParts);
  QHash<QString, QString> fields;
  for (qsizetype i = 1; i < pieces.size(); ++i) {
    const QStringList parts = pieceParts(pieces[i]);
    if (parts.size() != 2) return std::nullopt;
    fields.insert(parts[0], parts[1]);
  }
  const std::optional<InputSourceRegistration::State> status =
      InputSourceRegistration::fromRawValue(fields.value(QStringLiteral("status")));
  if (!status) return std::nullopt;
  const QString selected = fields.value(QStringLiteral("selected"));
  if (selected != QLatin1String("0") && selected != QLatin1String("1")) return std::nullopt;
  const QString ibus = fields.value(QStringLiteral("ibus"), QStringLiteral("1"));
  if (ibus != QLatin1String("0") && ibus != QLatin1String("1")) return std::nullopt;
  return InputSourceSnapshot{*status, selected == QLatin1String("1"), ibus == QLatin1String("1")};
}

}  // namespace tolvani
