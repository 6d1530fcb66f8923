#include "ime/testing/IBusDaemonHarness.h"

#include <ibus.h>
#include <signal.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <memory>

#include "ime/ibus/IBusTextClient.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani::testing {
namespace {

constexpr int kDeadlineMs = 20000;

QString fromIBus(IBusText* text) {
  return text ? QString::fromUtf8(ibus_text_get_text(text)) : QString();
}

QString propertyRow(IBusProperty* p) {
  static const char* const types[] = {"normal", "toggle", "radio", "menu", "separator"};
  const unsigned type = ibus_property_get_prop_type(p);
  return QString::fromUtf8(ibus_property_get_key(p)) + u'|' +
         QString::fromLatin1(type < 5 ? types[type] : "unknown") + u'|' +
         fromIBus(ibus_property_get_label(p)) + u'|' +
         QString::fromLatin1(ibus_property_get_state(p) == PROP_STATE_CHECKED ? "on" : "off") +
         u'|' + QString::fromLatin1(ibus_property_get_sensitive(p) ? "enabled" : "disabled") +
         QString::fromLatin1(ibus_property_get_visible(p) ? "" : "|hidden");
}

}  // namespace

IBusDaemonHarness::IBusDaemonHarness(const QString& componentFolder)
    : IBusDaemonHarness(Options{componentFolder, QString(), false}) {}

IBusDaemonHarness::IBusDaemonHarness(const Options& options) {
  if (!root_.isValid()) {
    failure_ = QStringLiteral("no temporary folder");
    return;
  }
  const QString root = root_.path();
  for (const char* dir : {"home", "config", "cache", "data", "runtime"}) {
    QDir(root).mkpath(QString::fromLatin1(dir));
  }
  QFile::setPermissions(root + QStringLiteral("/runtime"),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QString socket = root + QStringLiteral("/runtime/ibus.sock");
  const QString address = QStringLiteral("unix:path=") + socket;
  address_ = address;
  eventsPath_ = root + QStringLiteral("/events.txt");

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "IBUS_ADDRESS", "QT_NO_GLIB",
                           "IBUS_ENABLE_SYNC_MODE", "DBUS_SESSION_BUS_ADDRESS"}) {
    env.remove(QString::fromLatin1(name));
  }
  env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
  env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
  // Without the variable the daemon reads the machine's own component folder.
  env.remove(QStringLiteral("IBUS_COMPONENT_PATH"));
  if (!options.componentFolder.isEmpty()) {
    env.insert(QStringLiteral("IBUS_COMPONENT_PATH"), options.componentFolder);
  }
  env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
  if (options.display.isEmpty()) {
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  } else {
    // The engine's own windows (the candidate panel) show on that display.
    env.insert(QStringLiteral("DISPLAY"), options.display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
  }
  env.insert(QStringLiteral("TOLVANI_TEST_IBUS_EVENTS"), eventsPath_);
  for (const QString& variable : options.environment) {
    const qsizetype equals = variable.indexOf(u'=');
    if (equals > 0) env.insert(variable.left(equals), variable.mid(equals + 1));
  }
  configHome_ = env.value(QStringLiteral("XDG_CONFIG_HOME"));
  // The program's first start offers its setup window: not in tests of typing.
  if (!options.firstStart)
    platform::Defaults(configHome_ + QStringLiteral("/tolvani/") + platform::bundle::identifier() +
                       QStringLiteral(".plist"))
        .set(AppSettings::kOnboardingCompletedKey, true);
  daemon_.setProcessEnvironment(env);
  if (options.quiet) {
    daemon_.setStandardErrorFile(QProcess::nullDevice());
  } else {
    daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  }
  // Its own process group, so that the daemon and the engine it starts end with the harness.
  daemon_.setChildProcessModifier([] { ::setpgid(0, 0); });
  // The shell leaves the daemon's process id behind before it becomes the daemon.
  const QString pidFile = root + QStringLiteral("/ibus-daemon.pid");
  const QString sessionFile = root + QStringLiteral("/session-bus");
  daemon_.start(QStringLiteral("dbus-run-session"),
                {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                 QStringLiteral("echo \"$DBUS_SESSION_BUS_ADDRESS\" > \"$2\"; echo $$ > \"$0\"; "
                                "exec ibus-daemon --panel=disable --emoji-extension=disable "
                                "--config=disable --cache=none --address=\"$1\""),
                 pidFile, address, sessionFile});
  if (!daemon_.waitForStarted()) {
    failure_ = QStringLiteral("dbus-run-session did not start: ") + daemon_.errorString();
    return;
  }
  group_ = daemon_.processId();

  qputenv("IBUS_ADDRESS", address.toUtf8());
  ibus_init();
  const QDeadlineTimer deadline(kDeadlineMs);
  while (!deadline.hasExpired() && daemon_.state() == QProcess::Running) {
    if (ibusDaemon_ == 0) {
      QFile file(pidFile);
      if (file.open(QIODevice::ReadOnly)) ibusDaemon_ = file.readAll().trimmed().toLongLong();
    }
    if (ibusDaemon_ != 0 && QFile::exists(socket)) {
      QFile session(sessionFile);
      if (session.open(QIODevice::ReadOnly))
        sessionBus_ = QString::fromUtf8(session.readAll()).trimmed();
      IBusBus* bus = ibus_bus_new();
      if (ibus_bus_is_connected(bus)) {
        bus_ = bus;
        return;
      }
      g_object_unref(bus);
    }
    QThread::msleep(20);
  }
  failure_ = QStringLiteral("the IBus daemon did not answer");
}

IBusDaemonHarness::~IBusDaemonHarness() {
  if (bus_) g_object_unref(bus_);
  // Two process groups: dbus-run-session's, with its bus (which outlives dbus-run-session when
  // that ends first, so the group is always signalled), and the one the IBus daemon makes for
  // itself and the engines it starts. The IBus daemon does not always end with its bus, and a
  // survivor would keep the test's output open and the test runner waiting.
  const auto signalDaemon = [this](int signal) {
    if (ibusDaemon_ <= 1) return;
    ::kill(static_cast<pid_t>(-ibusDaemon_), signal);
    ::kill(static_cast<pid_t>(ibusDaemon_), signal);
  };
  signalDaemon(SIGTERM);
  if (group_ > 1) {
    ::kill(static_cast<pid_t>(-group_), SIGTERM);
    if (!daemon_.waitForFinished(5000)) daemon_.kill();
    daemon_.waitForFinished(5000);
    ::kill(static_cast<pid_t>(-group_), SIGKILL);
  }
  signalDaemon(SIGKILL);
  // The engine may still be writing into the temporary folders: wait until both groups are gone.
  const auto alive = [](qint64 group) {
    return group > 1 && ::kill(static_cast<pid_t>(-group), 0) == 0;
  };
  const QDeadlineTimer deadline(5000);
  while ((alive(group_) || alive(ibusDaemon_)) && !deadline.hasExpired()) QThread::msleep(10);
  qunsetenv("IBUS_ADDRESS");
}

QStringList IBusDaemonHarness::events() const {
  QFile file(eventsPath_);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

bool waitUntil(const std::function<bool()>& done, int ms) {
  const QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) QThread::msleep(5);
  }
  return true;
}

bool IBusDaemonHarness::waitFor(const std::function<bool()>& done) {
  return waitUntil(done, kDeadlineMs);
}

void IBusDaemonHarness::settleAfterPause() {
  waitUntil([] { return false; }, 100);
  settle();
}

void IBusDaemonHarness::settle() {
  if (!bus_) return;
  // A round trip to the daemon: every signal sent before its answer has arrived with it.
  g_free(ibus_bus_get_name_owner(bus_, "org.freedesktop.IBus"));
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

const unsigned TestInputContext::kAllCapabilities =
    IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_AUXILIARY_TEXT | IBUS_CAP_LOOKUP_TABLE | IBUS_CAP_FOCUS |
    IBUS_CAP_PROPERTY | IBUS_CAP_SURROUNDING_TEXT;

TestInputContext::TestInputContext(IBusDaemonHarness& harness, const char* clientName,
                                   unsigned capabilities)
    : harness_(harness) {
  if (!harness.ready()) return;
  context_ = ibus_bus_create_input_context(harness.bus(), clientName);
  if (!context_) return;
  ibus_input_context_set_capabilities(context_, capabilities);
  g_signal_connect(
      context_, "commit-text",
      G_CALLBACK(+[](IBusInputContext*, IBusText* text, TestInputContext* self) {
        self->commits << fromIBus(text);
        self->arrivals << QStringLiteral("commit");
        if (!self->keepsText_) return;
        const QString committed = fromIBus(text);
        // A commit replaces the selection, as a text field does.
        const unsigned start = std::min(self->cursor, self->anchor);
        const qsizetype from = utf16Position(self->text, start);
        self->text.replace(from,
                           utf16Position(self->text, std::max(self->cursor, self->anchor)) - from,
                           committed);
        self->cursor = start + static_cast<unsigned>(scalarPosition(committed, committed.size()));
        self->anchor = self->cursor;
      }),
      this);
  g_signal_connect(
      context_, "delete-surrounding-text",
      G_CALLBACK(+[](IBusInputContext*, gint offset, guint count, TestInputContext* self) {
        if (!self->keepsText_) return;
        const qsizetype from = static_cast<qsizetype>(self->cursor) + offset;
        const qsizetype to = from + count;
        if (from < 0 || to > scalarPosition(self->text, self->text.size())) return;
        const qsizetype start = utf16Position(self->text, from);
        self->text.remove(start, utf16Position(self->text, to) - start);
        if (to <= self->cursor) {
          self->cursor -= count;
        } else if (from < self->cursor) {
          self->cursor = static_cast<unsigned>(from);
        }
        self->anchor = self->cursor;
      }),
      this);
  g_signal_connect(
      context_, "forward-key-event",
      G_CALLBACK(+[](IBusInputContext*, guint keyval, guint, guint state, TestInputContext* self) {
        if ((state & IBUS_RELEASE_MASK) == 0) self->forwardedKeys.push_back(keyval);
      }),
      this);
  g_signal_connect(context_, "update-preedit-text",
                   G_CALLBACK(+[](IBusInputContext*, IBusText* text, guint cursor, gboolean visible,
                                  TestInputContext* self) {
                     self->preedits.push_back({fromIBus(text), cursor, visible != FALSE});
                     self->arrivals << QStringLiteral("preedit");
                   }),
                   this);
  g_signal_connect(context_, "update-lookup-table",
                   G_CALLBACK(+[](IBusInputContext*, IBusLookupTable* table, gboolean visible,
                                  TestInputContext* self) {
                     self->arrivals << QStringLiteral("table");
                     if (!visible) return;
                     QStringList rows;
                     for (guint i = 0; i < ibus_lookup_table_get_number_of_candidates(table); ++i) {
                       rows << fromIBus(ibus_lookup_table_get_candidate(table, i));
                     }
                     self->lookupTables.push_back(rows);
                   }),
                   this);
  g_signal_connect(
      context_, "update-auxiliary-text",
      G_CALLBACK(+[](IBusInputContext*, IBusText* text, gboolean visible, TestInputContext* self) {
        if (visible) self->auxiliaryTexts << fromIBus(text);
        self->arrivals << QStringLiteral("auxiliary");
      }),
      this);
  g_signal_connect(context_, "hide-lookup-table",
                   G_CALLBACK(+[](IBusInputContext*, TestInputContext* self) {
                     self->arrivals << QStringLiteral("hide table");
                   }),
                   this);
  g_signal_connect(context_, "hide-auxiliary-text",
                   G_CALLBACK(+[](IBusInputContext*, TestInputContext* self) {
                     self->arrivals << QStringLiteral("hide auxiliary");
                   }),
                   this);
  g_signal_connect(context_, "register-properties",
                   G_CALLBACK(+[](IBusInputContext*, IBusPropList* list, TestInputContext* self) {
                     ++self->registrations;
                     self->menu.clear();
                     for (guint i = 0; IBusProperty* p = ibus_prop_list_get(list, i); ++i) {
                       self->properties << QString::fromUtf8(ibus_property_get_key(p));
                       self->menu << propertyRow(p);
                       IBusPropList* rows = ibus_property_get_sub_props(p);
                       for (guint j = 0;
                            IBusProperty* r = rows ? ibus_prop_list_get(rows, j) : nullptr; ++j) {
                         self->menu << QStringLiteral("> ") + propertyRow(r);
                       }
                     }
                   }),
                   this);
  g_signal_connect(context_, "update-property",
                   G_CALLBACK(+[](IBusInputContext*, IBusProperty* p, TestInputContext* self) {
                     const QString key = QString::fromUtf8(ibus_property_get_key(p));
                     self->properties << key;
                     for (QString& row : self->menu) {
                       const bool inner = row.startsWith(QLatin1String("> "));
                       if (row.mid(inner ? 2 : 0).section(u'|', 0, 0) == key)
                         row = (inner ? QStringLiteral("> ") : QString()) + propertyRow(p);
                     }
                   }),
                   this);
}

TestInputContext::~TestInputContext() { destroy(); }

QString TestInputContext::objectPath() const {
  if (!context_) return QString();
  return QString::fromUtf8(g_dbus_proxy_get_object_path(G_DBUS_PROXY(context_)));
}

void TestInputContext::focusIn() {
  if (context_) ibus_input_context_focus_in(context_);
}

void TestInputContext::focusOut() {
  if (context_) ibus_input_context_focus_out(context_);
}

void TestInputContext::selectEngine(const char* name) {
  if (context_) ibus_input_context_set_engine(context_, name);
}

QString TestInputContext::engineName() const {
  if (!context_) return QString();
  IBusEngineDesc* desc = ibus_input_context_get_engine(context_);
  return desc ? QString::fromUtf8(ibus_engine_desc_get_name(desc)) : QString();
}

void TestInputContext::setSurroundingText(const QString& text, unsigned cursor, unsigned anchor) {
  if (!context_) return;
  const QByteArray utf8 = text.toUtf8();
  ibus_input_context_set_surrounding_text(context_, ibus_text_new_from_string(utf8.constData()),
                                          cursor, anchor);
}

void TestInputContext::setCursorLocation(int x, int y, int w, int h) {
  if (context_) ibus_input_context_set_cursor_location(context_, x, y, w, h);
}

void TestInputContext::setContentType(unsigned purpose, unsigned hints) {
  if (context_) ibus_input_context_set_content_type(context_, purpose, hints);
}

void TestInputContext::keepText(const QString& keptText, unsigned caret,
                                std::optional<unsigned> selectionAnchor) {
  text = keptText;
  cursor = caret;
  anchor = selectionAnchor.value_or(caret);
  keepsText_ = true;
  setSurroundingText(text, cursor, anchor);
}

bool TestInputContext::sendKey(unsigned keyval, unsigned keycode, unsigned state) {
  if (!context_) return false;
  if (keepsText_) setSurroundingText(text, cursor, anchor);
  return ibus_input_context_process_key_event(context_, keyval, keycode, state) != FALSE;
}

bool TestInputContext::sendKeysAtOnce(const std::vector<std::pair<unsigned, unsigned>>& keys) {
  if (!context_) return false;
  if (keepsText_) setSurroundingText(text, cursor, anchor);
  // Answers may come after a timed-out wait: the count outlives it.
  auto pending = std::make_shared<int>(0);
  for (const auto& [keyval, keycode] : keys) {
    for (const unsigned state : {0u, unsigned{IBUS_RELEASE_MASK}}) {
      ++*pending;
      sendKeyWithoutWaiting(keyval, keycode, state, [pending](bool) { --*pending; });
    }
  }
  return waitUntil([&] { return *pending == 0; }, kDeadlineMs);
}

void TestInputContext::sendKeyWithoutWaiting(unsigned keyval, unsigned keycode, unsigned state,
                                             std::function<void(bool consumed)> answered) {
  if (!context_) return;
  using Answer = std::function<void(bool)>;
  ibus_input_context_process_key_event_async(
      context_, keyval, keycode, state, -1, nullptr,
      +[](GObject* object, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Answer> answer(static_cast<Answer*>(data));
        const gboolean consumed = ibus_input_context_process_key_event_async_finish(
            IBUS_INPUT_CONTEXT(object), result, nullptr);
        (*answer)(consumed != FALSE);
      },
      new Answer(std::move(answered)));
}

void TestInputContext::activateProperty(const char* key, bool on) {
  if (context_) {
    ibus_input_context_property_activate(context_, key,
                                         on ? PROP_STATE_CHECKED : PROP_STATE_UNCHECKED);
  }
}

void TestInputContext::destroy() {
  if (!context_) return;
  ibus_proxy_destroy(IBUS_PROXY(context_));
  g_object_unref(context_);
  context_ = nullptr;
  harness_.settle();
}

}  // namespace tolvani::testing
