// Text shortcuts: the user's code-to-text list stored under "textShortcuts" (with the built-in set
// while nothing usable is stored), and the expansion of a typed code, including the dynamic codes
// that give today's date, the time of day and today's Bangla-calendar date in Bangla.
// Thread-safety: every function may be called on any thread.
#ifndef TOLVANI_SETTINGS_TEXTSHORTCUTS_H_
#define TOLVANI_SETTINGS_TEXTSHORTCUTS_H_

#include <QMap>
#include <QString>
#include <optional>

namespace tolvani::AppSettings {

// The seven built-in shortcuts.
const QMap<QString, QString>& defaultTextShortcuts();

// The stored list: the built-in set when nothing is stored or the stored data are not a JSON
// object of strings; an empty stored object gives an empty list.
QMap<QString, QString> textShortcuts();
// Stores the whole list as a compact JSON object. Posts no notification.
void setTextShortcuts(const QMap<QString, QString>& shortcuts);
// Removes the stored list, so that the built-in set applies again. Posts no notification.
void resetTextShortcuts();

// The text to insert for a typed code, matched lower-cased; none when nothing matches. With
// `includeDynamic` the six dynamic codes answer before any stored shortcut.
std::optional<QString> shortcutExpansion(const QString& code, bool includeDynamic);

// Today's Gregorian date in Bangla ("শনিবার, ৫ ডিসেম্বর ২০২৬") and the time of day in Bangla
// ("দুপুর ২:০৫"), on the platform clock in its time zone.
QString banglaDate();
QString banglaTime();

// `text` with the ASCII digits written as Bangla digits; every other character kept.
QString banglaDigits(const QString& text);

}  // namespace tolvani::AppSettings

#endif  // TOLVANI_SETTINGS_TEXTSHORTCUTS_H_
