#include "platform/testing/DesktopPalettes.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStyle>
#include <QStyleFactory>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

namespace tolvani::testing {
namespace {

// The colour-scheme file: group name (as between the brackets) to its entries.
using Scheme = std::map<QString, std::map<QString, QString>>;

std::optional<Scheme> readScheme(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
  Scheme scheme;
  QString group;
  QTextStream in(&file);
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      group = line.mid(1, line.size() - 2);
    } else if (const qsizetype eq = line.indexOf(u'='); eq > 0) {
      scheme[group][line.left(eq).trimmed()] = line.mid(eq + 1).trimmed();
    }
  }
  return scheme;
}

std::optional<QString> entry(const Scheme& scheme, const QString& group, const QString& key) {
  const auto g = scheme.find(group);
  if (g == scheme.end()) return std::nullopt;
  const auto e = g->second.find(key);
  if (e == g->second.end()) return std::nullopt;
  return e->second;
}

QColor colorEntry(const Scheme& scheme, const QString& group, const QString& key) {
  const QStringList parts = entry(scheme, group, key).value_or(QString()).split(u',');
  if (parts.size() < 3) return {};
  return QColor(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
}

double numberEntry(const Scheme& scheme, const QString& group, const QString& key,
                   double fallback) {
  bool ok = false;
  const double value = entry(scheme, group, key).value_or(QString()).toDouble(&ok);
  return ok ? value : fallback;
}

bool flagEntry(const Scheme& scheme, const QString& group, const QString& key, bool fallback) {
  const std::optional<QString> value = entry(scheme, group, key);
  if (!value) return fallback;
  return value->compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || *value == u"1";
}

// KDE's colour arithmetic works in its HCY space: hue, chroma and a luma of gamma-2.2 channels
// with Rec. 709 weights.
double unit(double v) { return std::clamp(v, 0.0, 1.0); }
double linear(double v) { return std::pow(unit(v), 2.2); }
double encoded(double v) { return std::pow(unit(v), 1.0 / 2.2); }
constexpr double kR = 0.2126, kG = 0.7152, kB = 0.0722;

struct Hcy {
  double h = 0, c = 0, y = 0, a = 1;
};

double luma(const QColor& color) {
  return kR * linear(color.redF()) + kG * linear(color.greenF()) + kB * linear(color.blueF());
}

Hcy toHcy(const QColor& color) {
  const double r = linear(color.redF()), g = linear(color.greenF()), b = linear(color.blueF());
  Hcy out;
  out.a = color.alphaF();
  out.y = kR * r + kG * g + kB * b;
  const double p = std::max({r, g, b}), n = std::min({r, g, b}), d = 6.0 * (p - n);
  if (n == p) {
    out.h = 0;
  } else if (r == p) {
    out.h = (g - b) / d;
  } else if (g == p) {
    out.h = (b - r) / d + 1.0 / 3.0;
  } else {
    out.h = (r - g) / d + 2.0 / 3.0;
  }
  out.c = (r == g && g == b) ? 0.0 : std::max((out.y - n) / out.y, (p - out.y) / (1 - out.y));
  return out;
}

QColor fromHcy(const Hcy& in) {
  double h = std::fmod(in.h, 1.0);
  if (h < 0) h += 1.0;
  const double c = unit(in.c), y = unit(in.y), hs = h * 6.0;
  double th, tm;
  if (hs < 1) {
    th = hs, tm = kR + kG * th;
  } else if (hs < 2) {
    th = 2 - hs, tm = kG + kR * th;
  } else if (hs < 3) {
    th = hs - 2, tm = kG + kB * th;
  } else if (hs < 4) {
    th = 4 - hs, tm = kB + kG * th;
  } else if (hs < 5) {
    th = hs - 4, tm = kB + kR * th;
  } else {
    th = 6 - hs, tm = kR + kB * th;
  }
  double tp, to, tn;
  if (tm >= y) {
    tp = y + y * c * (1 - tm) / tm;
    to = y + y * c * (th - tm) / tm;
    tn = y - y * c;
  } else {
    tp = y + (1 - y) * c;
    to = y + (1 - y) * c * (th - tm) / (1 - tm);
    tn = y - (1 - y) * c * tm / (1 - tm);
  }
  const double p = encoded(tp), o = encoded(to), n = encoded(tn);
  if (hs < 1) return QColor::fromRgbF(p, o, n, in.a);
  if (hs < 2) return QColor::fromRgbF(o, p, n, in.a);
  if (hs < 3) return QColor::fromRgbF(n, p, o, in.a);
  if (hs < 4) return QColor::fromRgbF(n, o, p, in.a);
  if (hs < 5) return QColor::fromRgbF(o, n, p, in.a);
  return QColor::fromRgbF(p, n, o, in.a);
}

QColor shade(const QColor& color, double ky, double kc = 0) {
  Hcy c = toHcy(color);
  c.y = unit(c.y + ky);
  c.c = unit(c.c + kc);
  return fromHcy(c);
}

QColor darken(const QColor& color, double ky, double kc = 1) {
  Hcy c = toHcy(color);
  c.y = unit(c.y * (1 - ky));
  c.c = unit(c.c * kc);
  return fromHcy(c);
}

QColor lighten(const QColor& color, double ky, double kc = 1) {
  Hcy c = toHcy(color);
  c.y = 1 - unit((1 - c.y) * (1 - ky));
  c.c = 1 - unit((1 - c.c) * kc);
  return fromHcy(c);
}

QColor mix(const QColor& a, const QColor& b, double bias) {
  if (bias <= 0) return a;
  if (bias >= 1) return b;
  auto m = [bias](double x, double y) { return x + (y - x) * bias; };
  const double alpha = m(a.alphaF(), b.alphaF());
  if (alpha <= 0) return Qt::transparent;
  return QColor::fromRgbF(unit(m(a.redF() * a.alphaF(), b.redF() * b.alphaF())) / alpha,
                          unit(m(a.greenF() * a.alphaF(), b.greenF() * b.alphaF())) / alpha,
                          unit(m(a.blueF() * a.alphaF(), b.blueF() * b.alphaF())) / alpha, alpha);
}

double lumaContrast(double y1, double y2) {
  return (std::max(y1, y2) + 0.05) / (std::min(y1, y2) + 0.05);
}

// `base` moved toward `color` until their contrast grows by the share `amount` asks for.
QColor tint(const QColor& base, const QColor& color, double amount) {
  if (amount <= 0) return base;
  if (amount >= 1) return color;
  const double baseLuma = luma(base);
  const double goal = 1.0 + (lumaContrast(baseLuma, luma(color)) + 1.0) * amount * amount * amount;
  double low = 0, high = 1;
  QColor result;
  for (int i = 0; i < 12; ++i) {
    const double a = (low + high) / 2;
    Hcy h = toHcy(mix(base, color, std::pow(a, 0.3)));
    h.y = baseLuma + (h.y - baseLuma) * a;
    result = fromHcy(h);
    (lumaContrast(baseLuma, luma(result)) > goal ? high : low) = a;
  }
  return result;
}

// What the scheme does to the colours of a window that is not the active one, or of a disabled
// control.
struct StateEffects {
  int intensity = 0, color = 0, contrast = 0;
  double intensityAmount = 0, colorAmount = 0, contrastAmount = 0;
  QColor effectColor;

  StateEffects(const Scheme& s, QPalette::ColorGroup state) {
    if (state == QPalette::Active) return;
    const bool disabled = state == QPalette::Disabled;
    const QString group = disabled ? QStringLiteral("ColorEffects:Disabled")
                                   : QStringLiteral("ColorEffects:Inactive");
    if (!flagEntry(s, group, QStringLiteral("Enable"), disabled)) return;
    intensity = int(numberEntry(s, group, QStringLiteral("IntensityEffect"), disabled ? 2 : 0));
    color = int(numberEntry(s, group, QStringLiteral("ColorEffect"), disabled ? 0 : 1));
    contrast = int(numberEntry(s, group, QStringLiteral("ContrastEffect"), disabled ? 1 : 2));
    intensityAmount = numberEntry(s, group, QStringLiteral("IntensityAmount"), disabled ? 0.1 : 0);
    colorAmount = numberEntry(s, group, QStringLiteral("ColorAmount"), disabled ? 0 : -0.9);
    contrastAmount =
        numberEntry(s, group, QStringLiteral("ContrastAmount"), disabled ? 0.65 : 0.25);
    if (color > 0) {
      effectColor = colorEntry(s, group, QStringLiteral("Color"));
      if (!effectColor.isValid())
        effectColor = disabled ? QColor(56, 56, 56) : QColor(112, 111, 110);
    }
  }

  QColor background(QColor c) const {
    if (intensity == 1) c = shade(c, intensityAmount);
    if (intensity == 2) c = darken(c, intensityAmount);
    if (intensity == 3) c = lighten(c, intensityAmount);
    if (color == 1) c = darken(c, 0, 1 - colorAmount);
    if (color == 2) c = mix(c, effectColor, colorAmount);
    if (color == 3) c = tint(c, effectColor, colorAmount);
    return c;
  }
  QColor foreground(QColor c, const QColor& behind) const {
    if (contrast == 1) c = mix(c, behind, contrastAmount);
    if (contrast == 2) c = tint(c, behind, contrastAmount);
    return background(c);
  }
};

// One colour set of the scheme ("Window", "View", ...) in one state.
struct ColorSet {
  QColor background, alternate, text, link, visited;
};

std::optional<ColorSet> colorSet(const Scheme& s, const QString& name, QPalette::ColorGroup state,
                                 const QColor& tintWith = QColor()) {
  QString group = QStringLiteral("Colors:") + name;
  // A set may carry colours of its own for inactive windows, which then take no effects.
  const QString inactiveGroup = group + QStringLiteral("][Inactive");
  const bool ownInactive = state == QPalette::Inactive && s.count(inactiveGroup) != 0;
  if (ownInactive) group = inactiveGroup;
  ColorSet set{colorEntry(s, group, QStringLiteral("BackgroundNormal")),
               colorEntry(s, group, QStringLiteral("BackgroundAlternate")),
               colorEntry(s, group, QStringLiteral("ForegroundNormal")),
               colorEntry(s, group, QStringLiteral("ForegroundLink")),
               colorEntry(s, group, QStringLiteral("ForegroundVisited"))};
  for (const QColor& c : {set.background, set.alternate, set.text, set.link, set.visited})
    if (!c.isValid()) return std::nullopt;
  if (tintWith.isValid()) {
    set.background = tint(set.background, tintWith, 0.4);
    set.alternate = tint(set.alternate, tintWith, 0.4);
  }
  const StateEffects effects(s, ownInactive ? QPalette::Active : state);
  for (QColor* c : {&set.text, &set.link, &set.visited})
    *c = effects.foreground(*c, set.background);
  set.background = effects.background(set.background);
  set.alternate = effects.background(set.alternate);
  return set;
}

enum class Shade { light, midlight, mid, dark, shadow };

// The bevel colours the theme derives from the window colour, by the scheme's contrast setting.
QColor shadeOf(const QColor& color, Shade role, double contrast) {
  contrast = std::clamp(contrast, -1.0, 1.0);
  const double y = luma(color), yi = 1 - y;
  if (y < 0.006) {
    switch (role) {
      case Shade::light:
        return shade(color, 0.05 + 0.95 * contrast);
      case Shade::mid:
        return shade(color, 0.01 + 0.20 * contrast);
      case Shade::dark:
        return shade(color, 0.02 + 0.40 * contrast);
      default:
        return shade(color, 0.03 + 0.60 * contrast);
    }
  }
  if (y > 0.93) {
    switch (role) {
      case Shade::midlight:
        return shade(color, -0.02 - 0.20 * contrast);
      case Shade::dark:
        return shade(color, -0.06 - 0.60 * contrast);
      case Shade::shadow:
        return shade(color, -0.10 - 0.90 * contrast);
      default:
        return shade(color, -0.04 - 0.40 * contrast);
    }
  }
  const double lightAmount = (0.05 + y * 0.55) * (0.25 + contrast * 0.75);
  const double darkAmount = -y * (0.55 + contrast * 0.35);
  switch (role) {
    case Shade::light:
      return shade(color, lightAmount);
    case Shade::midlight:
      return shade(color, (0.15 + 0.35 * yi) * lightAmount);
    case Shade::mid:
      return shade(color, (0.35 + 0.15 * y) * darkAmount);
    case Shade::dark:
      return shade(color, darkAmount);
    case Shade::shadow:
      break;
  }
  return darken(shade(color, darkAmount), 0.5 + 0.3 * y);
}

}  // namespace

std::optional<QPalette> kdeColorSchemePalette(const QString& colorsFile, const QPalette& start) {
  const std::optional<Scheme> scheme = readScheme(colorsFile);
  if (!scheme) return std::nullopt;
  const Scheme& s = *scheme;
  const double contrast =
      0.1 * numberEntry(s, QStringLiteral("KDE"), QStringLiteral("contrast"), 7);
  // Inactive selections take the window's colours tinted toward the selection, unless the scheme
  // says otherwise.
  const bool inactiveSelectionFromWindow = flagEntry(
      s, QStringLiteral("ColorEffects:Inactive"), QStringLiteral("ChangeSelectionColor"),
      flagEntry(s, QStringLiteral("ColorEffects:Inactive"), QStringLiteral("Enable"), true));
  const std::optional<ColorSet> tooltip = colorSet(s, QStringLiteral("Tooltip"), QPalette::Active);
  const std::optional<ColorSet> activeSelection =
      colorSet(s, QStringLiteral("Selection"), QPalette::Active);
  if (!tooltip || !activeSelection) return std::nullopt;

  QPalette palette = start;
  for (QPalette::ColorGroup state : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const std::optional<ColorSet> view = colorSet(s, QStringLiteral("View"), state);
    const std::optional<ColorSet> window = colorSet(s, QStringLiteral("Window"), state);
    const std::optional<ColorSet> button = colorSet(s, QStringLiteral("Button"), state);
    std::optional<ColorSet> selection;
    if (state == QPalette::Active || (state == QPalette::Inactive && !inactiveSelectionFromWindow))
      selection = colorSet(s, QStringLiteral("Selection"), state);
    else if (state == QPalette::Inactive)
      selection = colorSet(s, QStringLiteral("Window"), state, activeSelection->background);
    else
      selection = colorSet(s, QStringLiteral("Window"), state);
    if (!view || !window || !button || !selection) return std::nullopt;

    palette.setColor(state, QPalette::WindowText, window->text);
    palette.setColor(state, QPalette::Window, window->background);
    palette.setColor(state, QPalette::Base, view->background);
    palette.setColor(state, QPalette::Text, view->text);
    palette.setColor(state, QPalette::Button, button->background);
    palette.setColor(state, QPalette::ButtonText, button->text);
    palette.setColor(state, QPalette::Highlight, selection->background);
    palette.setColor(state, QPalette::HighlightedText, selection->text);
    palette.setColor(state, QPalette::ToolTipBase, tooltip->background);
    palette.setColor(state, QPalette::ToolTipText, tooltip->text);
    palette.setColor(state, QPalette::Light, shadeOf(window->background, Shade::light, contrast));
    palette.setColor(state, QPalette::Midlight,
                     shadeOf(window->background, Shade::midlight, contrast));
    palette.setColor(state, QPalette::Mid, shadeOf(window->background, Shade::mid, contrast));
    palette.setColor(state, QPalette::Dark, shadeOf(window->background, Shade::dark, contrast));
    palette.setColor(state, QPalette::Shadow, shadeOf(window->background, Shade::shadow, contrast));
    palette.setColor(state, QPalette::AlternateBase, view->alternate);
    palette.setColor(state, QPalette::Link, view->link);
    palette.setColor(state, QPalette::LinkVisited, view->visited);
  }
  return palette;
}

QPalette breezeDarkPalette() {
  const QString& path = kBreezeDarkColors;
  const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
  const std::optional<QPalette> palette = kdeColorSchemePalette(path, fusion->standardPalette());
  if (!palette) {
    ADD_FAILURE() << "cannot read " << path.toStdString() << " (package kde-style-breeze)";
    return fusionDarkPalette();
  }
  return *palette;
}

QPalette fusionDarkPalette() {
  const QColor windowText(240, 240, 240), background(50, 50, 50);
  const QColor light = background.lighter(150);
  const QColor mid = background.darker(130);
  const QColor midLight = mid.lighter(110);
  const QColor base = background.darker(140);
  const QColor dark = background.darker(150);
  const QColor darkDisabled = QColor(209, 209, 209).darker(110);
  const QColor text = windowText;
  const QColor highlight(48, 140, 198);
  const QColor highlightedText = windowText;
  const QColor disabledText(130, 130, 130);
  const QColor shadow = dark.darker(135);
  const QColor disabledShadow = shadow.lighter(150);
  const QColor disabledHighlight(145, 145, 145);
  QColor placeholder = text;
  placeholder.setAlpha(128);

  QPalette p(windowText, background, light, dark, mid, text, base);
  p.setBrush(QPalette::Midlight, midLight);
  p.setBrush(QPalette::Button, background);
  p.setBrush(QPalette::Shadow, shadow);
  p.setBrush(QPalette::HighlightedText, highlightedText);
  p.setBrush(QPalette::Disabled, QPalette::Text, disabledText);
  p.setBrush(QPalette::Disabled, QPalette::WindowText, disabledText);
  p.setBrush(QPalette::Disabled, QPalette::ButtonText, disabledText);
  p.setBrush(QPalette::Disabled, QPalette::Base, background);
  p.setBrush(QPalette::Disabled, QPalette::Dark, darkDisabled);
  p.setBrush(QPalette::Disabled, QPalette::Shadow, disabledShadow);
  p.setBrush(QPalette::Active, QPalette::Highlight, highlight);
  p.setBrush(QPalette::Inactive, QPalette::Highlight, highlight);
  p.setBrush(QPalette::Disabled, QPalette::Highlight, disabledHighlight);
  p.setBrush(QPalette::PlaceholderText, placeholder);
  return p;
}

std::vector<NamedPalette> darkDesktopPalettes() {
  return {{QStringLiteral("breeze-dark"), breezeDarkPalette()},
          {QStringLiteral("fusion-dark"), fusionDarkPalette()}};
}

}  // namespace tolvani::testing
