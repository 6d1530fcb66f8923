// A click on a candidate in the desktop's IBus panel, where the program's list goes when it cannot
// place its own window: through a private ibus-daemon, the clicked candidate is what the
// application receives.
#include <gtest/gtest.h>
#include <ibus.h>

#include "ime/testing/IBusTestKeys.h"
#include "ime/tests/ImeTestSupport.h"

namespace tolvani {
namespace {

using testing::TestInputContext;
using testing::typeKeys;
using testing::u;

// The desktop's panel, as the test plays it: it holds the panel's bus name, so the daemon hands
// its clicks on the list to the engine of the focused context.
class TestPanel {
 public:
  explicit TestPanel(IBusBus* bus) : bus_(bus) {
    service_ = ibus_panel_service_new(ibus_bus_get_connection(bus));
    g_object_ref_sink(service_);
    owned_ = ibus_bus_request_name(bus, IBUS_SERVICE_PANEL, 0) != 0;
  }
  ~TestPanel() {
    if (owned_) ibus_bus_release_name(bus_, IBUS_SERVICE_PANEL);
    ibus_object_destroy(IBUS_OBJECT(service_));
    g_object_unref(service_);
  }
  TestPanel(const TestPanel&) = delete;
  TestPanel& operator=(const TestPanel&) = delete;

  bool owned() const { return owned_; }
  void click(unsigned row) { ibus_panel_service_candidate_clicked(service_, row, 1, 0); }

 private:
  IBusBus* bus_;
  IBusPanelService* service_;
  bool owned_ = false;
};

class IBusPanelClickTest : public testing::IBusProgramTest {};

TEST_F(IBusPanelClickTest, ClickedCandidateIsCommitted) {
  TestPanel panel(harness_.bus());
  ASSERT_TRUE(panel.owned());
  TestInputContext context(harness_, "editor");
  start(context);
  EXPECT_EQ(typeKeys(context, "ami"), 0);
  // The list of the whole word comes in the pause after its last key; a slow test may also have
  // been sent lists of its first letters.
  harness_.settleAfterPause();
  ASSERT_TRUE(harness_.waitFor(
      [&] { return !context.lookupTables.empty() && context.lookupTables.back().size() >= 2; }));
  const QStringList rows = context.lookupTables.back();
  panel.click(1);
  ASSERT_TRUE(harness_.waitFor([&] { return !context.commits.isEmpty(); }))
      << rows.join('|').toStdString();
  EXPECT_EQ(context.commits.join(QString()).trimmed().toStdString(), rows[1].toStdString())
      << rows.join('|').toStdString();
  EXPECT_EQ(context.preedits.back().text, QString());
}

}  // namespace
}  // namespace tolvani
