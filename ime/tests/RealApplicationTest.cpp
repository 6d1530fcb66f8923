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
  EXPECT_TRUE(desktop.screenshot(shot, QRect(0, 0, 640, 360))) << shot.toStdString();

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

// The harness itself: fields of two programs, focus by click and by Tab, and a window without a
// field, each field keeping only what was typed while it had the focus.
TEST(RealApplicationHarnessTest, EachFieldOfTwoProgramsHoldsWhatWasTypedInIt) {
  VirtualDesktop desktop(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* gtk =
      desktop.open(TextWindow::Toolkit::Gtk3, {QStringLiteral("--fields"), QStringLiteral("2")});
  ASSERT_NE(gtk, nullptr) << desktop.failure().toStdString();
  TextWindow* qt =
      desktop.open(TextWindow::Toolkit::Qt6, {QStringLiteral("--y"), QStringLiteral("240")});
  ASSERT_NE(qt, nullptr) << desktop.failure().toStdString();
  TextWindow* empty =
      desktop.open(TextWindow::Toolkit::Gtk3,
                   {QStringLiteral("--fields"), QStringLiteral("0"), QStringLiteral("--title"),
                    QStringLiteral("No field"), QStringLiteral("--x"), QStringLiteral("600")});
  ASSERT_NE(empty, nullptr) << desktop.failure().toStdString();
  EXPECT_EQ(empty->fieldCount(), 0);
  EXPECT_TRUE(desktop.waitForWindow(QStringLiteral("No field")));
  EXPECT_FALSE(qt->field(0).intersects(gtk->field(1)));

  ASSERT_TRUE(desktop.focus(*gtk, 0));
  ASSERT_TRUE(desktop.selectEngine("tolvani"));
  ASSERT_TRUE(engineActive(desktop));
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  ASSERT_TRUE(gtk->waitForText(0, u("আমি "))) << gtk->text(0).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("Tab")));
  ASSERT_TRUE(gtk->waitForFocus(1));
  ASSERT_TRUE(desktop.type(QStringLiteral("tumi ")));
  EXPECT_TRUE(gtk->waitForText(1, u("তুমি "))) << gtk->text(1).toStdString();
  ASSERT_TRUE(desktop.focus(*qt, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("se ")));
  EXPECT_TRUE(qt->waitForText(0, u("সে "))) << qt->text(0).toStdString();
  // Keys over a window with no field reach no field.
  ASSERT_FALSE(
      desktop
          .run(QStringLiteral("xdotool"),
               {QStringLiteral("mousemove"), QStringLiteral("--sync"), QStringLiteral("700"),
                QStringLiteral("20"), QStringLiteral("click"), QStringLiteral("1")})
          .isNull());
  ASSERT_TRUE(desktop.type(QStringLiteral("ki ")));
  // Keys are delivered in order: once the next field has the later ones, those went nowhere.
  ASSERT_TRUE(desktop.focus(*qt, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("ar ")));
  EXPECT_TRUE(qt->waitForText(0, u("সে আর "))) << qt->text(0).toStdString();
  EXPECT_EQ(gtk->text(0), u("আমি "));
  EXPECT_EQ(gtk->text(1), u("তুমি "));
  // The program empties its fields on request.
  EXPECT_TRUE(gtk->clear(0));
  EXPECT_TRUE(gtk->waitForText(1, QString()));
}

}  // namespace
}  // namespace tolvani
