#include "help/HelpText.h"

#include <QColor>
#include <QFont>
#include <QStringList>
#include <QTextCursor>
#include <QTextDocument>

#include "settings/SecondaryText.h"

namespace tolvani {
namespace {

// Sizes are in pixels so that the window's proportions hold at every screen density the desktop
// reports; Latin text takes Noto Sans and Bangla falls through to Noto Sans Bengali.
QFont systemFont(int pixelSize, QFont::Weight weight) {
  QFont font;
  font.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Noto Sans Bengali")});
  font.setPixelSize(pixelSize);
  font.setWeight(weight);
  return font;
}

QFont monospacedFont(int pixelSize) {
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono")});
  // Keys, arrows, rules and separators are all in this font; without this, punctuation and spaces
  // beside Bangla are itemized as Bangla and drawn in a proportional fallback font.
  font.setStyleHint(QFont::Monospace, QFont::NoFontMerging);
  font.setFixedPitch(true);
  font.setPixelSize(pixelSize);
  font.setWeight(QFont::Normal);
  return font;
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Base).lightness() < 128; }

QColor withAlpha(QColor color, double alpha) {
  color.setAlphaF(alpha);
  return color;
}

struct Colors {
  QColor label, secondaryLabel, tertiaryLabel, rule, blue;
};

Colors colorsOf(const QPalette& palette, bool compactRows) {
  const bool dark = isDark(palette);
  const QColor label = palette.color(QPalette::Active, QPalette::Text);
  const QColor base = palette.color(QPalette::Active, QPalette::Base);
  // The keys' thin monospaced strokes come out lighter on screen than their colour, the more so in
  // the compact rows' small size: the colour stands out more than the screen needs to.
  const double keys = compactRows ? 14.0 : 6.5;
  // Examples are dimmer than notes, both readable on the page.
  return {label, secondarytext::color(label, base), secondarytext::color(label, base, 0.45),
          withAlpha(label, dark ? 0.25 : 0.26),
          secondarytext::raised(dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x7A, 0xFF), base,
                                keys)};
}

QTextCharFormat format(const QFont& font, const QColor& color) {
  QTextCharFormat result;
  result.setFont(font);
  result.setForeground(color);
  return result;
}

}  // namespace

QTextCharFormat textFormat(TextStyle style, const QPalette& palette, bool compactRows) {
  const Colors c = colorsOf(palette, compactRows);
  const int mono = compactRows ? 9 : 13;
  switch (style) {
    case TextStyle::titleStyle:
      return format(systemFont(17, QFont::Bold), c.label);
    case TextStyle::sectionStyle:
      return format(systemFont(15, QFont::Bold), c.label);
    case TextStyle::mutedStyle:
      return format(monospacedFont(mono), c.rule);
    case TextStyle::keyStyle:
      return format(monospacedFont(mono), c.blue);
    case TextStyle::outputStyle:
      return format(systemFont(compactRows ? 11 : 14, QFont::Normal), c.label);
    case TextStyle::bodyStyle:
      return format(systemFont(13, QFont::Normal), c.label);
    case TextStyle::noteStyle:
      return format(systemFont(13, QFont::Normal), c.secondaryLabel);
    case TextStyle::introStyle:
      return format(systemFont(13, QFont::DemiBold), c.secondaryLabel);
    case TextStyle::glyphStyle:
      return format(systemFont(16, QFont::Normal), c.label);
    case TextStyle::exampleStyle:
      return format(systemFont(16, QFont::Normal), c.tertiaryLabel);
    case TextStyle::monoStyle: {
      QTextCharFormat result;
      result.setFont(monospacedFont(mono));
      return result;
    }
  }
  return {};
}

QString padded(const QString& text, int length) {
  if (length <= 0) return {};
  if (text.size() <= length) return text + QString(length - text.size(), QLatin1Char(' '));
  QString cut = text.left(length);
  if (cut.back().isHighSurrogate()) cut.back() = QLatin1Char(' ');
  return cut;
}

void HelpText::append(QString text, TextStyle style) {
  fragments_.push_back({std::move(text), style});
}

void HelpText::append(const HelpText& other) {
  fragments_.insert(fragments_.end(), other.fragments_.begin(), other.fragments_.end());
}

void HelpText::header(const QString& title, int ruleLength) {
  append(u'\n' + title + u'\n', TextStyle::sectionStyle);
  append(QString(ruleLength, QChar(0x2500)) + u'\n', TextStyle::mutedStyle);
}

QString HelpText::plainText() const {
  QString result;
  for (const TextFragment& fragment : fragments_) result += fragment.text;
  return result;
}

void HelpText::writeTo(QTextDocument& document, const QPalette& palette) const {
  document.clear();
  QTextCursor cursor(&document);
  for (const TextFragment& fragment : fragments_) {
    cursor.insertText(fragment.text, textFormat(fragment.style, palette, compactRows_));
  }
}

}  // namespace tolvani
