#include "setup/SessionKeymap.h"

#include <xcb/xcb.h>

#include <QFile>
#include <QRegularExpression>
#include <cstdlib>
#include <memory>

namespace tolvani::sessionkeymap {

namespace {

constexpr char kKeyboardFile[] = "/etc/default/keyboard";
constexpr char kRulesNamesAtom[] = "_XKB_RULES_NAMES";

std::vector<Layout> layoutsOf(const QString& layouts, const QString& variants) {
  const QStringList names = layouts.split(u',');
  const QStringList kinds = variants.split(u',');
  std::vector<Layout> result;
  for (qsizetype i = 0; i < names.size(); ++i) {
    const QString name = names[i].trimmed();
    if (name.isEmpty()) continue;
    Layout layout{name, i < kinds.size() ? kinds[i].trimmed() : QString()};
    bool seen = false;
    for (const Layout& other : result) seen = seen || other == layout;
    if (!seen) result.push_back(layout);
  }
  return result;
}

// The root window's rules names on the session's X display; empty when there is no display or
// it keeps none.
QByteArray rulesNamesProperty() {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) return {};
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> owner(connection,
                                                                             xcb_disconnect);
  if (connection == nullptr || xcb_connection_has_error(connection)) return {};
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) return {};
  const xcb_window_t root = screens.data->root;

  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, sizeof kRulesNamesAtom - 1, kRulesNamesAtom),
      nullptr);
  if (atom == nullptr) return {};
  const xcb_atom_t name = atom->atom;
  std::free(atom);
  if (name == XCB_ATOM_NONE) return {};
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, root, name, XCB_ATOM_STRING, 0, 1024), nullptr);
  if (reply == nullptr) return {};
  QByteArray value;
  if (reply->format == 8)
    value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                       xcb_get_property_value_length(reply));
  std::free(reply);
  return value;
}

}  // namespace

std::vector<Layout> fromRulesNames(const QByteArray& property) {
  const QList<QByteArray> fields = property.split('\0');
  if (fields.size() < 3) return {};
  return layoutsOf(QString::fromUtf8(fields[2]),
                   fields.size() > 3 ? QString::fromUtf8(fields[3]) : QString());
}

std::vector<Layout> fromKeyboardFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  // Shell assignments, the value bare or in either kind of quotes.
  static const QRegularExpression assignment(QStringLiteral(
      R"re(^\s*(?:export\s+)?(XKBLAYOUT|XKBVARIANT)=(?:"([^"]*)"|'([^']*)'|(\S*)))re"));
  QString layouts;
  QString variants;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine());
    const QRegularExpressionMatch match = assignment.match(line);
    if (!match.hasMatch()) continue;
    const QString value = match.captured(2) + match.captured(3) + match.captured(4);
    (match.captured(1) == QLatin1String("XKBLAYOUT") ? layouts : variants) = value;
  }
  return layoutsOf(layouts, variants);
}

std::vector<Layout> current() {
  std::vector<Layout> layouts = fromRulesNames(rulesNamesProperty());
  if (layouts.empty()) layouts = fromKeyboardFile(QString::fromLatin1(kKeyboardFile));
  if (layouts.empty()) layouts.push_back({QStringLiteral("us"), QString()});
  return layouts;
}

QString gnomeName(const Layout& layout) {
  return layout.variant.isEmpty() ? layout.layout : layout.layout + u'+' + layout.variant;
}

}  // namespace tolvani::sessionkeymap
