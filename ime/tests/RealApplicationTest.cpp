// Bangla typed into real applications: a GTK 3 and a Qt 6 text field on a virtual X display, each
// using its toolkit's own IBus module, receive X key events and hold the converted text.
#include <gtest/gtest.h>

#include <QDir>
#include <ostream>

#include "ime/testing/VirtualDesktop.h"

namespace tolvani {
namespace {

using testing::TextWindow;
using testing::VirtualDesktop;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

struct ToolkitCase {
  const char* name;
  TextWindow::Toolkit toolkit;
};
void PrintTo(const ToolkitCase& c, std::ostream* os) { *os << c.name; }

class RealApplicationTest : public ::testing::TestWithParam<ToolkitCase> {};

// Waits until the engine has attached to a client's input context.
bool engineActive(VirtualDesktop& desktop) {
  return desktop.ibus().waitFor([&] {
    for (const QString& line : desktop.ibus().events()) {
      if (line.startsWith(QLatin1String("activate "))) return true;
    }
    return false;
  });
}

TEST_P(RealApplicationTest, SentenceTypedAsKeysLandsInTheFieldAsBangla) {
  const ToolkitCase& c = GetParam();
  VirtualDesktop desktop(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* window = desktop.open(
      c.toolkit, {QStringLiteral("--fields"), QStringLiteral("2"), QStringLiteral("--title"),
                  QString::fromLatin1(c.name) + QStringLiteral(" fields")});
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_EQ(window->fieldCount(), 2);
  ASSERT_TRUE(desktop.focus(*window, 0)) << window->errors().toStdString();
  ASSERT_TRUE(desktop.selectEngine("tolvani"));
  ASSERT_TRUE(engineActive(desktop)) << desktop.ibus().events().join('\n').toStdString();

  // Halfway through a word the candidate panel is open beside the field.
  ASSERT_TRUE(desktop.type(QStringLiteral("ami tomake bhalobashi. kemon ach")));
  EXPECT_TRUE(window->waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন ")))
      << window->text(0).toStdString();
  EXPECT_TRUE(desktop.waitForWindow(QStringLiteral("Tolvani")));
  const QString shot = QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                       QStringLiteral("/screenshots/real-application-") +
                       QString::fromLatin1(c.name) + QStringLiteral(".png");
  EXPECT_TRUE(desktop.screenshot(shot)) << shot.toStdString();

  ASSERT_TRUE(desktop.type(QStringLiteral("o? ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন আছো? ")))
      << window->text(0).toStdString();
  // The other field of the window got nothing.
  EXPECT_EQ(window->text(1), QString());
}

INSTANTIATE_TEST_SUITE_P(Toolkits, RealApplicationTest,
                         ::testing::Values(ToolkitCase{"gtk3", TextWindow::Toolkit::Gtk3},
                                           ToolkitCase{"qt6", TextWindow::Toolkit::Qt6}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvani
