// A message the setup guide page posts to the program, read from its JSON text: an action, the
// session it echoes and an optional text argument; and the chapter number a tour message names.
// Thread-safety: pure functions and values.
#ifndef TOLVANI_SETUP_GUIDEMESSAGE_H_
#define TOLVANI_SETUP_GUIDEMESSAGE_H_

#include <QString>
#include <optional>

namespace tolvani {

struct GuideMessage {
  // The longest "text" accepted, in UTF-16 units.
  static constexpr qsizetype kMaxTextLength = 2048;

  QString action;
  // Present only when the message has a string "session".
  std::optional<QString> session;
  // "text" when it is a string, else empty.
  QString text;

  bool textWithinLimit() const { return text.size() <= kMaxTextLength; }

  // Nothing unless `json` is a JSON object whose "action" is a string.
  static std::optional<GuideMessage> parse(const QString& json);
};

// The chapter of a "tourChapter" text: an optional sign and decimal digits, nothing else, with a
// value from 0 to 4.
std::optional<int> guideTourChapter(const QString& text);

}  // namespace tolvani

#endif  // TOLVANI_SETUP_GUIDEMESSAGE_H_
