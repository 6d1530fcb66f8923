// Bangla typed into real applications: a GTK 3 and a Qt 6 text field on a virtual X display, each
// using its toolkit's own IBus module, receive X key events and hold the converted text.
#include <gtest/gtest.h>

#include <QDir>
#include <memory>
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

// A word still being typed when the focus moves lands once in the application it was typed in,
// whatever takes the focus: another field of its window, a click in its own field, another
// program, a window with no field. One desktop runs every move in turn.
class FocusMoveTest : public ::testing::TestWithParam<ToolkitCase> {
 protected:
  void SetUp() override {
    const ToolkitCase& c = GetParam();
    desktop_ = std::make_unique<VirtualDesktop>(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
    ASSERT_TRUE(desktop_->ready()) << desktop_->failure().toStdString();
    const QString name = QString::fromLatin1(c.name);
    a_ = desktop_->open(c.toolkit, {QStringLiteral("--fields"), QStringLiteral("2"),
                                    QStringLiteral("--title"), name + QStringLiteral(" A")});
    ASSERT_NE(a_, nullptr) << desktop_->failure().toStdString();
    b_ = desktop_->open(c.toolkit, {QStringLiteral("--title"), name + QStringLiteral(" B"),
                                    QStringLiteral("--y"), QStringLiteral("360")});
    ASSERT_NE(b_, nullptr) << desktop_->failure().toStdString();
    none_ = desktop_->open(
        c.toolkit, {QStringLiteral("--fields"), QStringLiteral("0"), QStringLiteral("--title"),
                    name + QStringLiteral(" no field"), QStringLiteral("--x"),
                    QStringLiteral("560"), QStringLiteral("--y"), QStringLiteral("400")});
    ASSERT_NE(none_, nullptr) << desktop_->failure().toStdString();
    ASSERT_EQ(a_->fieldCount(), 2);
    ASSERT_FALSE(b_->field(0).intersects(a_->field(1)));
    // Qt's program: chosen while its field has the focus, as a person does, so that the daemon
    // does not name the toolkit of that context (Qt's module puts the word in itself when it
    // resets, and IBus must not do it again). GTK's: chosen first, so that its field is named; an
    // unnamed context's word follows when it has the focus again (IBusFocusTest).
    if (c.toolkit == TextWindow::Toolkit::Qt6) {
      ASSERT_TRUE(focus(*a_, kTyped));
    }
    ASSERT_TRUE(desktop_->selectEngine("tolvani"));
    if (c.toolkit != TextWindow::Toolkit::Qt6) {
      ASSERT_TRUE(focus(*a_, kTyped));
    }
    ASSERT_TRUE(engineActive(*desktop_)) << events();
  }
  void TearDown() override { desktop_.reset(); }

  // The word is typed in A's lower field: the candidate panel, below it, leaves the other free.
  static constexpr int kTyped = 1;
  static constexpr int kOther = 0;

  std::string events() const { return desktop_->ibus().events().join('\n').toStdString(); }
  bool focus(TextWindow& window, int field) {
    return desktop_->focus(window, field) ||
           (ADD_FAILURE() << window.errors().toStdString(), false);
  }
  // Types a sentence whose last word stays pending in A's field, as it shows there.
  void compose() {
    ASSERT_TRUE(desktop_->type(QStringLiteral("ami tomake bhalo")));
    ASSERT_TRUE(a_->waitForText(kTyped, u("আমি তোমাকে "))) << a_->text(kTyped).toStdString();
    ASSERT_TRUE(a_->waitForPreedit(kTyped, u("ভালো"))) << a_->preedit(kTyped).toStdString();
  }
  // Every field of every window, and no composition left in any.
  void expectFields(const QString& typed, const QString& other, const QString& b) {
    EXPECT_EQ(a_->text(kTyped), typed);
    EXPECT_EQ(a_->text(kOther), other);
    EXPECT_EQ(b_->text(0), b);
    EXPECT_EQ(a_->preedit(kTyped), QString());
    EXPECT_EQ(a_->preedit(kOther), QString());
    EXPECT_EQ(b_->preedit(0), QString());
  }
  void clear() {
    EXPECT_TRUE(a_->clear(kTyped));
    EXPECT_TRUE(a_->waitForText(kOther, QString()));
    EXPECT_TRUE(b_->clear(0));
  }

  std::unique_ptr<VirtualDesktop> desktop_;
  TextWindow* a_ = nullptr;
  TextWindow* b_ = nullptr;
  TextWindow* none_ = nullptr;
};

TEST_P(FocusMoveTest, PendingWordLandsOnceInTheApplicationItWasTypedIn) {
  const QString sentence = u("আমি তোমাকে ভালো");
  {
    SCOPED_TRACE("a click into the other field of the window");
    ASSERT_NO_FATAL_FAILURE(compose());
    const QString shot = QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                         QStringLiteral("/screenshots/focus-move-pending-") +
                         QString::fromLatin1(GetParam().name) + QStringLiteral(".png");
    EXPECT_TRUE(desktop_->screenshot(shot, QRect(0, 0, 1024, 480))) << shot.toStdString();
    ASSERT_TRUE(focus(*a_, kOther));
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    EXPECT_TRUE(a_->waitForText(kOther, u("কেমন "))) << a_->text(kOther).toStdString();
    expectFields(sentence, u("কেমন "), QString());
    clear();
  }
  {
    SCOPED_TRACE("a click at the start of the field it is typed in");
    ASSERT_TRUE(focus(*a_, kTyped));
    ASSERT_NO_FATAL_FAILURE(compose());
    // Before the first letter: GTK takes clicks only past the field's padding.
    const QRect field = a_->field(kTyped);
    const int inset = GetParam().toolkit == TextWindow::Toolkit::Gtk3 ? 10 : 3;
    ASSERT_TRUE(desktop_->click(QPoint(field.left() + inset, field.center().y())));
    EXPECT_TRUE(a_->waitForText(kTyped, sentence)) << a_->text(kTyped).toStdString();
    EXPECT_TRUE(a_->waitForPreedit(kTyped, QString())) << a_->preedit(kTyped).toStdString();
    // What is typed next goes where the click put the caret.
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    EXPECT_TRUE(a_->waitForText(kTyped, u("কেমন ") + sentence)) << a_->text(kTyped).toStdString();
    expectFields(u("কেমন ") + sentence, QString(), QString());
    clear();
  }
  {
    SCOPED_TRACE("another program, then back");
    ASSERT_TRUE(focus(*a_, kTyped));
    ASSERT_NO_FATAL_FAILURE(compose());
    ASSERT_TRUE(focus(*b_, 0));
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    EXPECT_TRUE(b_->waitForText(0, u("কেমন "))) << b_->text(0).toStdString();
    // IBus may have dropped A's preedit, B's focus coming first; it is A's when A is back.
    ASSERT_TRUE(desktop_->focusWindow(*a_));
    EXPECT_TRUE(a_->waitForFocus(kTyped));
    if (GetParam().toolkit == TextWindow::Toolkit::Gtk3) {
      // GTK's module tells IBus of the focus as the window gets it.
      EXPECT_TRUE(a_->waitForText(kTyped, sentence)) << a_->text(kTyped).toStdString();
    }
    // Qt's may tell it only with the next key: the word comes before that key's text.
    ASSERT_TRUE(desktop_->type(QStringLiteral(" ki ")));
    EXPECT_TRUE(a_->waitForText(kTyped, sentence + u(" কি "))) << a_->text(kTyped).toStdString();
    expectFields(sentence + u(" কি "), QString(), u("কেমন "));
    clear();
  }
  {
    SCOPED_TRACE("a window with no field, then the other field");
    ASSERT_TRUE(focus(*a_, kTyped));
    ASSERT_NO_FATAL_FAILURE(compose());
    ASSERT_TRUE(desktop_->focusWindow(*none_));
    EXPECT_TRUE(a_->waitForFocus(-1));
    // Keys go in order: once the other field has the later ones, these went nowhere.
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    ASSERT_TRUE(focus(*a_, kOther));
    ASSERT_TRUE(desktop_->type(QStringLiteral("ki ")));
    EXPECT_TRUE(a_->waitForText(kOther, u("কি "))) << a_->text(kOther).toStdString();
    expectFields(sentence, u("কি "), QString());
  }
}

INSTANTIATE_TEST_SUITE_P(Toolkits, FocusMoveTest,
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
  ASSERT_TRUE(desktop.focusWindow(*empty));
  ASSERT_TRUE(desktop.click(QPoint(700, 20)));
  EXPECT_TRUE(qt->waitForFocus(-1));
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
