// What the program knows of itself: its identifier, its version and the folder of its installed
// resources. Thread-safety: safe for concurrent reads; the test setters are for a test's setup.
#ifndef TOLVANI_PLATFORM_BUNDLE_H_
#define TOLVANI_PLATFORM_BUNDLE_H_

#include <QString>
#include <optional>

namespace tolvani::platform::bundle {

// "com.tolvani.inputmethod.TolvaniIME".
QString identifier();
// The short version string compiled in; empty when the build gave none.
QString shortVersion();
// The resources folder: share/tolvani of the installed program, or the build tree's resources
// when the program runs from the build tree.
QString resourcesDir();
// A resource path under resourcesDir() ("layouts/probhat.json").
QString resourcePath(const QString& relative);

void testSetShortVersion(std::optional<QString> version);
void testSetResourcesDir(std::optional<QString> folder);

}  // namespace tolvani::platform::bundle

#endif  // TOLVANI_PLATFORM_BUNDLE_H_
