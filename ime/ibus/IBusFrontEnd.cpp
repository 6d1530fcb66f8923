#include "ime/ibus/IBusFrontEnd.h"

#include <ibus.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "ime/CandidatePanelWindow.h"
#include "ime/TestEvents.h"
#include "ime/TolvaniInputController.h"
#include "ime/ibus/IBusInputMenu.h"
#include "ime/ibus/IBusKeyEvent.h"
#include "ime/ibus/IBusTextClient.h"
#include "platform/Bundle.h"
#include "platform/Log.h"

typedef struct {
  IBusEngine parent;
} TolvaniIBusEngine;

typedef struct {
  IBusEngineClass parent;
} TolvaniIBusEngineClass;

G_DEFINE_TYPE(TolvaniIBusEngine, tolvani_ibus_engine, IBUS_TYPE_ENGINE)

namespace tolvani {
namespace {

class LookupTableFace;

struct Context {
  std::unique_ptr<IBusTextClient> client;
  std::unique_ptr<TolvaniInputController> controller;
  // A preedit that IBus dropped when the context lost the focus: it is committed here when the
  // context has the focus again.
  QString owed;
};

// The composition of the context that lost the focus last, until the next focus shows what IBus
// did with its preedit.
struct Departure {
  QString path;
  QString text;
  bool committedOnFocusOut = false;  // by IBus or the toolkit, on the context's own focus-out
  bool committedByToolkit = false;   // by the toolkit, whatever IBus did
};

// A key or a reset that came while the daemon had not yet said which context has the focus.
struct HeldEvent {
  bool reset = false;
  guint keyval = 0;
  guint keycode = 0;
  guint modifiers = 0;
};

struct FocusQuery {
  quint64 id = 0;
  IBusEngine* engine = nullptr;  // borrowed: the query ends when the daemon destroys it
  std::vector<HeldEvent> held;
};

struct FrontEndState {
  IBusBus* bus = nullptr;
  IBusFactory* factory = nullptr;
  std::map<QString, Context> contexts;
  QStringList order;
  QString focused;
  // The context that had the focus last, while it lives: a desktop's menu takes the focus from it
  // as it opens, and the menu's rows still speak for it.
  QString lastFocused;
  // The daemon's placeholder context, which holds the engine while no application has the focus.
  // It is the daemon's first context; a focus that names it says so again.
  QString placeholder = QStringLiteral("/org/freedesktop/IBus/InputContext_1");
  // The engine object the daemon uses now; it owns it.
  IBusEngine* engine = nullptr;
  int engines = 0;
  // The lookup-table face that showed last: a click on a row of the table goes to its panel.
  LookupTableFace* lookupFace = nullptr;
  std::optional<Departure> departure;
  // The focused context's menu as the engine's properties.
  IBusInputMenu menu;
  // The idle source that sends the focused context's menu, while one is due.
  guint menuSource = 0;
  // The daemon has not yet said which context a focus without a path went to.
  std::optional<FocusQuery> focusQuery;
  quint64 focusQueries = 0;
};

FrontEndState& state() {
  static FrontEndState s;
  return s;
}

}  // namespace

namespace {

IBusText* ibusText(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return ibus_text_new_from_string(utf8.constData());
}

// The panel as the daemon's own candidate list: rows and badges as text, the selected row as
// its cursor, the header and status messages as auxiliary text.
class LookupTableFace final : public CandidatePanelFace {
 public:
  LookupTableFace() {
    sendTimer_.setSingleShot(true);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    sendTimer_.setInterval(CandidatePanelWindow::kPaintDelayMs);
    QObject::connect(&sendTimer_, &QTimer::timeout, &sendTimer_, [this] {
      if (panel_) send(*panel_);
    });
  }
  ~LookupTableFace() override {
    if (state().lookupFace == this) state().lookupFace = nullptr;
  }
  bool placesWindows() const override { return false; }
  std::vector<ScreenArea> screens() const override { return {}; }
  qreal statusTextWidth(const QString& message) const override { return 7.0 * message.size(); }

  // The list and its header go to the daemon once the keys pause, as the panel window appears and
  // paints then: each key's list and header would otherwise follow its preedit through the daemon
  // and hold back the next key.
  void render(const CandidatePanel& panel) override {
    panel_ = const_cast<CandidatePanel*>(&panel);
    sendTimer_.start();
  }

  void postpone() override {
    if (sendTimer_.isActive()) sendTimer_.start();
  }

  void hide() override {
    sendTimer_.stop();
    if (IBusEngine* engine = state().engine) {
      forgetShownUnless(engine);
      hideTable(engine);
      hideAuxiliary(engine);
    }
  }

  void clicked(int row) {
    if (panel_) panel_->rowClicked(row);
  }

 private:
  void send(const CandidatePanel& panel) {
    IBusEngine* engine = state().engine;
    if (!engine) return;
    state().lookupFace = this;
    forgetShownUnless(engine);
    const CandidatePanel::Layout& layout = panel.layout();
    if (layout.state == CandidatePanel::State::status) {
      hideTable(engine);
      showAuxiliary(engine, layout.statusMessage);
      return;
    }
    Table table;
    for (const CandidatePanel::Row& row : panel.rows()) {
      if (!row.visible || !row.item) continue;
      QString text = row.item->text;
      if (!row.badge.isEmpty()) text += QStringLiteral("  ") + row.badge;
      table.rows.emplace_back(text, row.number);
    }
    table.cursor = panel.selectedIndex();
    table.visible = panel.itemCount() > 0;
    if (table != shownTable_) {
      IBusLookupTable* lookup = ibus_lookup_table_new(CandidatePanel::kMaxRows, 0,
                                                      /*cursor_visible=*/TRUE, /*round=*/TRUE);
      for (const auto& [text, label] : table.rows) {
        ibus_lookup_table_append_candidate(lookup, ibusText(text));
        ibus_lookup_table_append_label(lookup, ibusText(label));
      }
      ibus_lookup_table_set_cursor_pos(lookup, static_cast<guint>(table.cursor));
      ibus_engine_update_lookup_table(engine, lookup, table.visible ? TRUE : FALSE);
      shownTable_ = std::move(table);
    }
    if (layout.headerVisible && !layout.headerRawText.isEmpty()) {
      QString header = layout.headerRawText;
      if (!layout.headerPreedit.isEmpty()) header += QStringLiteral("  ") + layout.headerPreedit;
      showAuxiliary(engine, header);
    } else {
      hideAuxiliary(engine);
    }
  }

  // What the daemon shows for the context, as this face last sent it: nothing unchanged is sent
  // again, as each message is a round through the daemon while the application waits for the
  // key's preedit.
  struct Table {
    std::vector<std::pair<QString, QString>> rows;  // text, label
    int cursor = 0;
    bool visible = false;
    bool operator==(const Table&) const = default;
  };

  struct Auxiliary {
    QString text;
    bool visible = false;
    bool operator==(const Auxiliary&) const = default;
  };

  // The daemon's view of another engine object is unknown.
  void forgetShownUnless(IBusEngine* engine) {
    const char* path = ibus_service_get_object_path(IBUS_SERVICE(engine));
    if (path && shownBy_ == path) return;
    shownBy_ = path ? path : "";
    shownTable_.reset();
    shownAuxiliary_.reset();
  }
  void hideTable(IBusEngine* engine) {
    if (shownTable_ && !shownTable_->visible) return;
    ibus_engine_hide_lookup_table(engine);
    shownTable_ = Table{};
  }
  void showAuxiliary(IBusEngine* engine, const QString& text) {
    if (shownAuxiliary_ == Auxiliary{text, true}) return;
    ibus_engine_update_auxiliary_text(engine, ibusText(text), TRUE);
    shownAuxiliary_ = Auxiliary{text, true};
  }
  void hideAuxiliary(IBusEngine* engine) {
    if (shownAuxiliary_ && !shownAuxiliary_->visible) return;
    ibus_engine_hide_auxiliary_text(engine);
    shownAuxiliary_ = Auxiliary{};
  }

  CandidatePanel* panel_ = nullptr;  // the panel that owns this face
  QTimer sendTimer_;
  QByteArray shownBy_;  // the object path of the engine object the daemon showed them for
  std::optional<Table> shownTable_;
  std::optional<Auxiliary> shownAuxiliary_;
};

// For the tests, which read the events: each status message a face shows, as "status <text>".
class TestStatusFace final : public CandidatePanelFace {
 public:
  explicit TestStatusFace(std::unique_ptr<CandidatePanelFace> face) : face_(std::move(face)) {}
  bool placesWindows() const override { return face_->placesWindows(); }
  std::vector<ScreenArea> screens() const override { return face_->screens(); }
  qreal statusTextWidth(const QString& message) const override {
    return face_->statusTextWidth(message);
  }
  void render(const CandidatePanel& panel) override {
    if (panel.layout().state == CandidatePanel::State::status) {
      TestEvents::record(QStringLiteral("status ") + panel.layout().statusMessage);
    }
    face_->render(panel);
  }
  void hide() override { face_->hide(); }
  void postpone() override { face_->postpone(); }

 private:
  std::unique_ptr<CandidatePanelFace> face_;
};

Context* focusedContext() {
  auto found = state().contexts.find(state().focused);
  return found == state().contexts.end() ? nullptr : &found->second;
}

// The context the menu speaks for: the focused one, or while no context has the focus, the one
// that had it last.
const QString& menuPath() {
  return state().focused.isEmpty() ? state().lastFocused : state().focused;
}

Context* menuContext() {
  auto found = state().contexts.find(menuPath());
  return found == state().contexts.end() ? nullptr : &found->second;
}

void focusOut(const QString& path) {
  auto found = state().contexts.find(path);
  if (found == state().contexts.end()) return;
  Context& context = found->second;
  // IBus has committed the preedit into this context as it took the focus away, or has dropped
  // it: anything sent now would reach the context that has the focus next.
  const QString pending = context.controller->composedString();
  if (!pending.isEmpty()) {
    state().departure = Departure{path, pending, context.client->preeditCommittedOnFocusLoss(),
                                  context.client->toolkitCommitsPreedit()};
  }
  context.controller->deactivateServer(context.client.get(),
                                       TolvaniInputController::PendingText::insertedByClient);
  context.client->detach();
  if (state().focused == path) state().focused.clear();
  TestEvents::record(QStringLiteral("deactivate ") + path);
}

// The focus went on after a context with a composition lost it. A context's own focus-out hands
// the focus to the daemon's placeholder context first, and then IBus has committed a preedit in
// commit mode; when another context takes the focus straight away, IBus drops it, and only a
// toolkit that commits its preedit itself still puts it in. A dropped preedit is owed to its
// context.
void settleDeparture(bool viaPlaceholder) {
  std::optional<Departure> departure = std::exchange(state().departure, std::nullopt);
  if (!departure || departure->committedByToolkit ||
      (viaPlaceholder && departure->committedOnFocusOut)) {
    return;
  }
  auto found = state().contexts.find(departure->path);
  if (found != state().contexts.end()) found->second.owed += departure->text;
}

// The menu of the context it speaks for; with none (no field had the focus since the program
// started, or the last one is gone), the menu whose rows need no field.
InputMenu currentMenu() {
  if (Context* context = menuContext()) return context->controller->menu();
  return TolvaniInputController::menuWithoutController();
}

// The focused context's menu goes once the keys pause: the properties are a large message, which
// the daemon passes on to the application too, and a key typed meanwhile would wait behind it.
constexpr guint kMenuDelayMs = 4;

void sendMenuSoon() {
  if (state().menuSource != 0) g_source_remove(state().menuSource);
  state().menuSource = g_timeout_add(
      kMenuDelayMs,
      [](gpointer) -> gboolean {
        state().menuSource = 0;
        state().menu.update(state().engine, currentMenu());
        return G_SOURCE_REMOVE;
      },
      nullptr);
}

// A key puts off the menu that is due.
void holdMenu() {
  if (state().menuSource != 0) sendMenuSoon();
}

// `clientName` is the name the context's toolkit gave it, when the daemon tells it.
void focusIn(IBusEngine* engine, const QString& path, const QString& clientName = QString()) {
  state().engine = engine;
  if (!state().focused.isEmpty() && state().focused != path) focusOut(state().focused);
  settleDeparture(/*viaPlaceholder=*/false);
  auto found = state().contexts.find(path);
  if (found == state().contexts.end()) {
    Context context;
    context.client = std::make_unique<IBusTextClient>(path);
    context.controller = std::make_unique<TolvaniInputController>(context.client.get());
    TolvaniInputController* controller = context.controller.get();
    // The rows wait for a pause in the keys: any work before a key is answered, and any while
    // the next one comes, delays a preedit in the application.
    controller->setRankingDeferred(true);
    controller->setMenuObserver([path] {
      if (menuPath() == path) sendMenuSoon();
    });
    found = state().contexts.emplace(path, std::move(context)).first;
    state().order << path;
    TestEvents::record(QStringLiteral("controller ") + path);
  }
  Context& context = found->second;
  if (!clientName.isEmpty()) context.client->setClientName(clientName);
  context.client->attach(engine);
  if (state().lastFocused != path) {
    if (Context* last = menuContext()) last->controller->forgetConversionOnReturn();
  }
  state().focused = path;
  state().lastFocused = path;
  // Only the focused context's controller speaks for the menu; the list it had may be another's.
  state().menu.forget();
  context.controller->activateServer(context.client.get());
  sendMenuSoon();
  if (!context.owed.isEmpty()) {
    context.client->insertText(std::exchange(context.owed, QString()),
                               platform::TextRange::notFound());
  }
  TestEvents::record(QStringLiteral("activate ") + path);
}

// The context is gone: its controller ends, and with it its engine session.
void release(const QString& path) {
  auto found = state().contexts.find(path);
  if (found == state().contexts.end()) return;
  if (state().focused == path) focusOut(path);
  state().contexts.erase(found);
  state().order.removeAll(path);
  if (state().lastFocused == path) state().lastFocused.clear();
  TestEvents::record(QStringLiteral("release ") + path);
}

// The daemon tells the engine nothing when a context ends; it answers whether the context's
// object still exists. An unfocused context that is gone is released.
void releaseIfGone(const QString& path) {
  if (!state().bus) return;
  const QByteArray objectPath = path.toUtf8();
  g_dbus_connection_call(
      ibus_bus_get_connection(state().bus), "org.freedesktop.IBus", objectPath.constData(),
      "org.freedesktop.DBus.Introspectable", "Introspect", nullptr, G_VARIANT_TYPE("(s)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<QString> path(static_cast<QString*>(data));
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        if (!reply) return;
        const gchar* xml = nullptr;
        g_variant_get(reply, "(&s)", &xml);
        const bool alive = xml && strstr(xml, "org.freedesktop.IBus.InputContext") != nullptr;
        g_variant_unref(reply);
        if (!alive && state().focused != *path) release(*path);
      },
      new QString(path));
}

void focusOutAndCheck(const QString& path) {
  focusOut(path);
  releaseIfGone(path);
}

// Contexts may end while another has the focus: every focus change checks the others.
void releaseGoneContexts() {
  for (const QString& path : state().order) {
    if (path != state().focused) releaseIfGone(path);
  }
}

// The daemon's own context holds the engine while no application has the focus: no controller
// serves it. The daemon cleared the panel's rows as the field lost the focus; the menu goes again,
// so that the windows can be opened with no field. It goes at once: no key waits behind it, and
// IBus's own panel shows what was registered last when its tray menu opens, a moment later.
void focusPlaceholder(IBusEngine* engine) {
  state().engine = engine;
  if (state().menuSource != 0) g_source_remove(std::exchange(state().menuSource, 0u));
  state().menu.registerMenu(engine, currentMenu());
  if (!state().focused.isEmpty()) focusOut(state().focused);
  settleDeparture(/*viaPlaceholder=*/true);
  // The tests check the panel once they read this: the list has left by then.
  if (TestEvents::enabled())
    g_dbus_connection_flush_sync(ibus_bus_get_connection(state().bus), nullptr, nullptr);
  TestEvents::record(QStringLiteral("placeholder ") + state().placeholder);
}

// Another focus came before the daemon's answer: the answer may name the context that has the
// focus now, not the one the held keys were typed in, and the engine no longer reaches that one.
void abandonFocusQuery() {
  std::optional<FocusQuery> query = std::exchange(state().focusQuery, std::nullopt);
  if (query && !query->held.empty()) {
    platform::log::line(QStringLiteral("The focus moved before the IBus daemon said which context "
                                       "had it; %1 key events typed there are dropped")
                            .arg(query->held.size()));
  }
}

void engineFocusInId(IBusEngine* engine, const gchar* objectPath, const gchar* client) {
  abandonFocusQuery();
  if (g_strcmp0(client, "fake") == 0) {
    state().placeholder = QString::fromUtf8(objectPath);
    focusPlaceholder(engine);
  } else {
    focusIn(engine, QString::fromUtf8(objectPath), QString::fromUtf8(client));
  }
  releaseGoneContexts();
}

void engineFocusOutId(IBusEngine*, const gchar* objectPath) {
  focusOutAndCheck(QString::fromUtf8(objectPath));
}

bool handleKey(guint keyval, guint keycode, guint modifiers) {
  Context* context = focusedContext();
  const KeyEvent event = keyEventFromIBus(keyval, keycode, modifiers);
  if (!context) {
    if (event.keyDown) TestEvents::record(QStringLiteral("key without a context"));
    return false;
  }
  if (!event.keyDown) return false;
  holdMenu();
  return context->controller->handle(event, context->client.get());
}

// The application reset its input state (a click in the text, a programmatic change). The
// toolkits commit the preedit they show before they reset (GTK's in commit mode, Qt's always), so
// the composition only ends here; the daemon's copy of the preedit goes too, or a later focus
// change would commit it again. A context whose toolkit is not known yet shows its preedit in
// clear mode: the text it reported just before tells whether it put the word in itself, and if
// not, the word is committed here, where the application now has its caret.
void resetFocused() {
  Context* context = focusedContext();
  if (!context) return;
  const bool hadPreedit = !context->client->markedRange().isNotFound();
  const bool insertedByClient =
      context->client->clientNameKnown() ||
      context->client->textBeforeCaretEndsWith(context->controller->composedString());
  context->controller->commitComposition(context->client.get(),
                                         insertedByClient
                                             ? TolvaniInputController::PendingText::insertedByClient
                                             : TolvaniInputController::PendingText::insert);
  if (hadPreedit && insertedByClient) {
    context->client->setMarkedText(QString(), platform::MarkedTextStyle{}, {0, 0},
                                   platform::TextRange::notFound());
  }
}

void focusQueryAnswered(quint64 id, const QString& context, const QString& error) {
  if (!state().focusQuery || state().focusQuery->id != id) return;
  FocusQuery query = std::move(*std::exchange(state().focusQuery, std::nullopt));
  IBusEngine* engine = query.engine;
  if (context.isEmpty()) {
    platform::log::line(
        QStringLiteral("The IBus daemon did not say which context has the focus: ") + error);
  } else {
    TestEvents::record(QStringLiteral("focus without path ") + context);
    if (context == state().placeholder)
      focusPlaceholder(engine);
    else
      focusIn(engine, context);
  }
  // In the order they came; what no controller takes goes back to the application as typed.
  for (const HeldEvent& event : query.held) {
    if (event.reset) {
      resetFocused();
    } else if (!handleKey(event.keyval, event.keycode, event.modifiers)) {
      ibus_engine_forward_key_event(engine, event.keyval, event.keycode, event.modifiers);
    }
  }
  if (!context.isEmpty()) releaseGoneContexts();
}

// The first engine object after the daemon starts is focused without the context's path (the
// daemon learns only later that the engine takes it), and the daemon is asked which context has
// the focus. The keys that come before its answer, which a busy machine can hold back for seconds,
// are taken and held, and go to that context, in order, once the answer comes.
void engineFocusIn(IBusEngine* engine) {
  if (!state().bus) return;
  abandonFocusQuery();
  const quint64 id = ++state().focusQueries;
  state().focusQuery = FocusQuery{id, engine, {}};
  g_dbus_connection_call(
      ibus_bus_get_connection(state().bus), IBUS_SERVICE_IBUS, IBUS_PATH_IBUS, IBUS_INTERFACE_IBUS,
      "CurrentInputContext", nullptr, G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, G_MAXINT,
      nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const auto id = static_cast<quint64>(reinterpret_cast<quintptr>(data));
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply) {
          focusQueryAnswered(id, QString(),
                             QString::fromUtf8(error ? error->message : "no answer"));
          g_clear_error(&error);
          return;
        }
        const gchar* path = nullptr;
        g_variant_get(reply, "(&o)", &path);
        const QString context = QString::fromUtf8(path);
        g_variant_unref(reply);
        focusQueryAnswered(id, context, QString());
      },
      reinterpret_cast<gpointer>(static_cast<quintptr>(id)));
}

void engineFocusOut(IBusEngine*) {
  abandonFocusQuery();
  if (!state().focused.isEmpty()) focusOutAndCheck(state().focused);
}

gboolean engineProcessKeyEvent(IBusEngine* engine, guint keyval, guint keycode, guint modifiers) {
  if (state().focusQuery && state().focusQuery->engine == engine) {
    state().focusQuery->held.push_back(HeldEvent{false, keyval, keycode, modifiers});
    return TRUE;
  }
  return handleKey(keyval, keycode, modifiers) ? TRUE : FALSE;
}

void engineReset(IBusEngine* engine) {
  if (state().focusQuery && state().focusQuery->engine == engine)
    state().focusQuery->held.push_back(HeldEvent{true});
  else
    resetFocused();
  IBUS_ENGINE_CLASS(tolvani_ibus_engine_parent_class)->reset(engine);
}

// A row of the input menu chosen in the desktop's panel. Opening the panel's menu may have taken
// the focus from the context (the daemon's placeholder holds the engine then): the row is still
// that context's. The panel is sent the menu again, as it may show a check mark of its own.
void enginePropertyActivate(IBusEngine* engine, const gchar* name, guint propState) {
  if (!name) return;
  const QString key = QString::fromUtf8(name);
  const bool on = propState == PROP_STATE_CHECKED;
  TestEvents::record(QStringLiteral("menu row ") + key +
                     (state().focused.isEmpty() ? QStringLiteral(" without focus") : QString()));
  Context* context = menuContext();
  if (!context) {
    TolvaniInputController::activateMenuItemWithoutController(key, on);
    return state().menu.update(engine, currentMenu(), key);
  }
  context->controller->activateMenuItem(key, on);
  // The controller may be gone if a window opened a nested loop; look it up again.
  if (Context* still = menuContext()) state().menu.update(engine, still->controller->menu(), key);
}

// Toolkits set a field's purpose (password, PIN) when it takes the focus or later.
void engineSetContentType(IBusEngine* engine, guint purpose, guint hints) {
  IBusEngineClass* parent = IBUS_ENGINE_CLASS(tolvani_ibus_engine_parent_class);
  if (parent->set_content_type) parent->set_content_type(engine, purpose, hints);
  if (Context* context = focusedContext()) context->controller->inputPurposeChanged();
}

void engineCandidateClicked(IBusEngine*, guint index, guint, guint) {
  if (state().lookupFace) state().lookupFace->clicked(static_cast<int>(index));
}

void engineDestroy(IBusObject* object) {
  IBusEngine* engine = IBUS_ENGINE(object);
  if (state().focusQuery && state().focusQuery->engine == engine) abandonFocusQuery();
  if (state().engine == engine) {
    // The daemon replaces the engine object when a context selects the engine again; the
    // contexts and their controllers stay, and take the next object at their next focus.
    if (!state().focused.isEmpty()) focusOut(state().focused);
    for (auto& [path, context] : state().contexts) context.client->detach();
    state().engine = nullptr;
    state().menu.forget();
  }
  IBUS_OBJECT_CLASS(tolvani_ibus_engine_parent_class)->destroy(object);
}

IBusEngine* createEngine(IBusFactory* factory, const gchar* name, gpointer) {
  if (QString::fromUtf8(name) != IBusFrontEnd::engineName()) return nullptr;
  const QByteArray path =
      QStringLiteral("/org/freedesktop/IBus/Engine/Tolvani/%1").arg(++state().engines).toUtf8();
  GDBusConnection* connection = ibus_service_get_connection(IBUS_SERVICE(factory));
  return IBUS_ENGINE(g_object_new(tolvani_ibus_engine_get_type(), "engine-name", name,
                                  "object-path", path.constData(), "connection", connection,
                                  "has-focus-id", TRUE, nullptr));
}

// The types of a preedit and a candidate list, and their D-Bus form, are set up before the
// first key rather than on it.
void warmMessageTypes() {
  IBusText* text = ibus_text_new_from_static_string("a");
  ibus_text_append_attribute(text, IBUS_ATTR_TYPE_UNDERLINE, IBUS_ATTR_UNDERLINE_SINGLE, 0, 1);
  IBusLookupTable* table = ibus_lookup_table_new(CandidatePanel::kMaxRows, 0, TRUE, TRUE);
  ibus_lookup_table_append_candidate(table, ibus_text_new_from_static_string("a"));
  for (IBusSerializable* object : {IBUS_SERIALIZABLE(text), IBUS_SERIALIZABLE(table)}) {
    g_object_ref_sink(object);
    g_variant_unref(g_variant_ref_sink(ibus_serializable_serialize(object)));
    g_object_unref(object);
  }
}

void busDisconnected(IBusBus*, gpointer) {
  platform::log::line(QStringLiteral("The IBus daemon went away; quitting"));
  QCoreApplication::quit();
}

// Connects to the daemon and takes the bus name or registers the component.
bool serve(bool startedByDaemon, const QString& executable) {
  ibus_init();
  warmMessageTypes();
  FrontEndState& s = state();
  s.bus = ibus_bus_new();
  if (!ibus_bus_is_connected(s.bus)) {
    platform::log::line(QStringLiteral(
        "Cannot reach the IBus daemon: start IBus (ibus-daemon -drx) or choose IBus with "
        "im-config, then start Tolvani again"));
    return false;
  }
  g_signal_connect(s.bus, "disconnected", G_CALLBACK(busDisconnected), nullptr);

  CandidatePanel::setFaceFactory([] {
    std::unique_ptr<CandidatePanelFace> window = std::make_unique<CandidatePanelWindow>();
    std::unique_ptr<CandidatePanelFace> fallback = std::make_unique<LookupTableFace>();
    if (TestEvents::enabled()) {
      window = std::make_unique<TestStatusFace>(std::move(window));
      fallback = std::make_unique<TestStatusFace>(std::move(fallback));
    }
    return std::pair(std::move(window), std::move(fallback));
  });

  s.factory = ibus_factory_new(ibus_bus_get_connection(s.bus));
  g_signal_connect(s.factory, "create-engine", G_CALLBACK(createEngine), nullptr);
  const QByteArray bus = IBusFrontEnd::busName().toUtf8();
  if (startedByDaemon) {
    // Never in the queue for the name: a process waiting there serves nothing and waits forever.
    switch (ibus_bus_request_name(s.bus, bus.constData(), IBUS_BUS_NAME_FLAG_DO_NOT_QUEUE)) {
      case IBUS_BUS_REQUEST_NAME_REPLY_PRIMARY_OWNER:
      case IBUS_BUS_REQUEST_NAME_REPLY_ALREADY_OWNER:
        return true;
      case IBUS_BUS_REQUEST_NAME_REPLY_IN_QUEUE:
      case IBUS_BUS_REQUEST_NAME_REPLY_EXISTS:
        platform::log::line(QStringLiteral("Another Tolvani already serves IBus (it holds ") +
                            IBusFrontEnd::busName() + QStringLiteral("); this one exits"));
        return false;
      default:
        platform::log::line(QStringLiteral("Could not take the IBus name ") +
                            IBusFrontEnd::busName());
        return false;
    }
  }
  const QByteArray version = platform::bundle::shortVersion().toUtf8();
  const QByteArray exec = (executable + QStringLiteral(" --ibus")).toUtf8();
  const QByteArray engine = IBusFrontEnd::engineName().toUtf8();
  IBusComponent* component =
      ibus_component_new(bus.constData(), "Bangla input method", version.constData(), "", "Tolvani",
                         "", exec.constData(), "tolvani");
  ibus_component_add_engine(component, ibus_engine_desc_new(engine.constData(), "Tolvani", "Bangla",
                                                            "bn", "", "Tolvani", "", "us"));
  const bool registered = ibus_bus_register_component(s.bus, component);
  g_object_unref(component);
  if (!registered) platform::log::line(QStringLiteral("Could not register with IBus"));
  return registered;
}

}  // namespace

const QString& IBusFrontEnd::busName() {
  static const QString name = QStringLiteral("org.freedesktop.IBus.Tolvani");
  return name;
}

const QString& IBusFrontEnd::engineName() {
  static const QString name = QStringLiteral("tolvani");
  return name;
}

QStringList IBusFrontEnd::contextPaths() { return state().order; }

void IBusFrontEnd::stop() {
  FrontEndState& s = state();
  // Detached first: a controller that ends sends nothing to a context.
  for (auto& [path, context] : s.contexts) context.client->detach();
  s.contexts.clear();
  s.order.clear();
  s.focused.clear();
  s.lastFocused.clear();
  s.departure.reset();
  s.focusQuery.reset();
  s.lookupFace = nullptr;
  if (s.menuSource != 0) g_source_remove(std::exchange(s.menuSource, 0u));
  CandidatePanelWindow::waitForFontsAhead();
}

bool IBusFrontEnd::start(bool startedByDaemon, const QString& executable) {
  // The first focus makes a panel window, which reads the fonts.
  CandidatePanelWindow::readFontsAhead();
  if (!serve(startedByDaemon, executable)) {
    // The reading ends before the application does.
    CandidatePanelWindow::waitForFontsAhead();
    return false;
  }
  // Well before the daemon has made an engine and focused a context, on the first turn of the
  // event loop.
  QTimer::singleShot(0, QCoreApplication::instance(), [] { CandidatePanelWindow::warmUp(); });
  return true;
}

}  // namespace tolvani

static void tolvani_ibus_engine_class_init(TolvaniIBusEngineClass* klass) {
  IBusEngineClass* engine = IBUS_ENGINE_CLASS(klass);
  engine->focus_in_id = tolvani::engineFocusInId;
  engine->focus_out_id = tolvani::engineFocusOutId;
  engine->focus_in = tolvani::engineFocusIn;
  engine->focus_out = tolvani::engineFocusOut;
  engine->process_key_event = tolvani::engineProcessKeyEvent;
  engine->reset = tolvani::engineReset;
  engine->candidate_clicked = tolvani::engineCandidateClicked;
  engine->property_activate = tolvani::enginePropertyActivate;
  engine->set_content_type = tolvani::engineSetContentType;
  IBUS_OBJECT_CLASS(klass)->destroy = tolvani::engineDestroy;
}

static void tolvani_ibus_engine_init(TolvaniIBusEngine*) {}
