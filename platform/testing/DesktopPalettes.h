// Dark palettes as real platform themes hand them to a Qt 6.4 program, for the window tests: the
// KDE theme under the Breeze Dark colour scheme, and Qt's own Fusion palette under a dark desktop.
// Neither is filled in role by role by the test: the first is read from the colour-scheme file a
// Debian package ships, mapped to roles as the KDE theme maps it, the second is Qt's.
// Thread-safety: the test's main thread.
#ifndef TOLVANI_PLATFORM_TESTING_DESKTOPPALETTES_H_
#define TOLVANI_PLATFORM_TESTING_DESKTOPPALETTES_H_

#include <QPalette>
#include <QString>
#include <optional>
#include <vector>

namespace tolvani::testing {

// The palette the KDE platform theme makes from a KDE colour scheme (a `kdeglobals` or a
// `.colors` file): each colour set of the file mapped to the roles the theme gives it, the
// inactive and disabled groups through the file's state effects, the bevel shades computed from
// the window colour. The theme sets no PlaceholderText, so that role keeps the value of `start`
// (the palette the program had before, Qt's light one). Debian 12 packages no KDE theme for Qt 6,
// so this reproduces the mapping instead of loading the theme. Null when the file cannot be read.
std::optional<QPalette> kdeColorSchemePalette(const QString& colorsFile, const QPalette& start);

// The Breeze Dark colour scheme the kde-style-breeze package installs.
inline const QString kBreezeDarkColors =
    QStringLiteral("/usr/share/color-schemes/BreezeDark.colors");

// Breeze Dark, from kBreezeDarkColors, starting from Qt's own light palette. Adds a failure when
// the file is missing (scripts/setup installs it).
QPalette breezeDarkPalette();

// Qt 6.4's Fusion palette as it is under a dark desktop (a platform theme that reports a dark
// appearance): the same recipe Qt follows, with its dark colours.
QPalette fusionDarkPalette();

struct NamedPalette {
  QString name;  // for file names and failure messages
  QPalette palette;
};

// Both dark palettes, Breeze Dark first.
std::vector<NamedPalette> darkDesktopPalettes();

}  // namespace tolvani::testing

#endif  // TOLVANI_PLATFORM_TESTING_DESKTOPPALETTES_H_
