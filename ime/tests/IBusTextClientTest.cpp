#include "ime/ibus/IBusTextClient.h"

#include <gtest/gtest.h>
#include <ibus.h>
#include <sys/socket.h>

#include <QStringList>
#include <vector>

namespace tolvani {
namespace {

// IBus counts Unicode scalars; the controller counts UTF-16 units. An emoji outside the basic
// plane is one scalar and two units.
TEST(IBusTextClientTest, PositionsConvertBetweenScalarsAndUtf16Units) {
  const QString text = QString::fromUtf8("আমি 😀 ok");
  struct Case {
    qsizetype scalars;
    qsizetype units;
  };
  const Case cases[] = {{0, 0}, {3, 3}, {4, 4}, {5, 6}, {6, 7}, {8, 9}};
  for (const Case& c : cases) {
    EXPECT_EQ(utf16Position(text, c.scalars), c.units) << c.scalars;
    EXPECT_EQ(scalarPosition(text, c.units), c.scalars) << c.units;
  }
  // Past the end: clamped to the end.
  EXPECT_EQ(utf16Position(text, 50), text.size());
  EXPECT_EQ(scalarPosition(text, 50), 8);
  // A lone surrogate counts as one scalar, as IBus's text would have replaced it with one.
  const QString broken = QString(QChar(0xD83D)) + QStringLiteral("a");
  EXPECT_EQ(utf16Position(broken, 1), 1);
  EXPECT_EQ(scalarPosition(broken, 2), 2);
}

TEST(IBusTextClientTest, WithoutFocusTheClientAnswersNothingAndDropsText) {
  IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_9"));
  EXPECT_FALSE(client.respondsTo(platform::TextClient::Call::selectedRange));
  EXPECT_TRUE(client.selectedRange().isNotFound());
  EXPECT_TRUE(client.markedRange().isNotFound());
  EXPECT_FALSE(client.stringFromRange({0, 1}).has_value());
  EXPECT_FALSE(client.firstRectForCharacterRange({0, 0}).has_value());
  client.insertText(QStringLiteral("x"), platform::TextRange::notFound());
  client.setMarkedText(QStringLiteral("y"), {}, {1, 0}, platform::TextRange::notFound());
  EXPECT_TRUE(client.markedRange().isNotFound());
  EXPECT_EQ(client.inputPurpose(), platform::InputPurpose::freeForm);
}

// An engine object on no bus: the test plays the context and reports its text directly.
class ReportingEngine {
 public:
  ReportingEngine()
      : engine_(IBUS_ENGINE(g_object_new(IBUS_TYPE_ENGINE, "engine-name", "test", "object-path",
                                         "/org/freedesktop/IBus/Engine/Test", nullptr))) {
    engine_->client_capabilities = IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_SURROUNDING_TEXT;
  }
  ~ReportingEngine() { ibus_object_destroy(IBUS_OBJECT(engine_)); }
  IBusEngine* get() const { return engine_; }
  // Positions in scalars, as the context sends them.
  void report(const QString& text, unsigned cursor, unsigned anchor) {
    const QByteArray utf8 = text.toUtf8();
    g_signal_emit_by_name(engine_, "set-surrounding-text",
                          ibus_text_new_from_string(utf8.constData()), cursor, anchor);
  }

 private:
  IBusEngine* engine_;
};

// What the controller reads back right after its own edits, before the context has reported the
// text they made: the edits themselves, then whatever the context reports next.
TEST(IBusTextClientTest, OwnEditsShowUntilTheContextReportsItsText) {
  ReportingEngine engine;
  IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_1"));
  client.attach(engine.get());
  engine.report(QStringLiteral("hi "), 3, 3);
  const auto read = [&] {
    const platform::TextRange caret = client.selectedRange();
    return (client.stringFromRange({0, 100}).value_or(QStringLiteral("<none>")) + u'|' +
            QString::number(caret.location) + u',' + QString::number(caret.length))
        .toStdString();
  };

  client.setMarkedText(QString::fromUtf8("থে"), {}, {2, 0}, platform::TextRange::notFound());
  EXPECT_EQ(read(), "hi থে|5,0");
  client.insertText(QString::fromUtf8("থে "), platform::TextRange::notFound());
  EXPECT_TRUE(client.markedRange().isNotFound());
  EXPECT_EQ(read(), "hi থে |6,0");
  // The English word replaces the committed one, found where it was committed.
  ASSERT_EQ(client.stringFromRange({3, 3}), QString::fromUtf8("থে "));
  client.insertText(QStringLiteral("the "), {3, 3});
  EXPECT_EQ(read(), "hi the |7,0");
  client.insertText(QString::fromUtf8("😀"), platform::TextRange::notFound());
  EXPECT_EQ(read(), "hi the 😀|9,0");

  // The context's own report wins, and a commit replaces its selection.
  engine.report(QString::fromUtf8("hi the 😀 ok"), 11, 8);
  EXPECT_EQ(read(), "hi the 😀 ok|9,3");
  client.insertText(QStringLiteral("!"), platform::TextRange::notFound());
  EXPECT_EQ(read(), "hi the 😀!|10,0");

  // A new focus starts from what the context reports.
  client.detach();
  client.attach(engine.get());
  EXPECT_EQ(read(), "hi the 😀 ok|9,3");
}

// Once the context has told the text an edit made, what it tells is its own, even the very text
// and selection it had before the edit (an undo, the same text typed and selected again, the same
// line in another paragraph): read as it was the first time, not as the edit left it.
TEST(IBusTextClientTest, AfterAnEditTheTextItWasMadeOnIsReadAsTheContextTellsIt) {
  ReportingEngine engine;
  IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_8"));
  client.setClientName(QStringLiteral("gtk3-im:gedit"));
  client.attach(engine.get());
  const auto read = [&] {
    const platform::TextRange selection = client.selectedRange();
    return (client.stringFromRange({0, 100}).value_or(QStringLiteral("<none>")) + u'|' +
            QString::number(selection.location) + u',' + QString::number(selection.length))
        .toStdString();
  };

  // A selection converted; the context tells the result, then, undone, the text before it.
  engine.report(QStringLiteral("hello ami tomake world"), 9, 6);
  client.insertText(QString::fromUtf8("আমি"), {6, 3});
  EXPECT_EQ(read(), "hello আমি tomake world|9,0");
  engine.report(QString::fromUtf8("hello আমি tomake world"), 9, 9);
  engine.report(QStringLiteral("hello ami tomake world"), 9, 6);
  EXPECT_EQ(read(), "hello ami tomake world|6,3");
  // Converted again, and the same text typed and the same words selected again.
  client.insertText(QString::fromUtf8("আমি"), {6, 3});
  engine.report(QString::fromUtf8("hello আমি tomake world"), 9, 9);
  engine.report(QString(), 0, 0);
  engine.report(QStringLiteral("hello ami tomake world"), 22, 22);
  engine.report(QStringLiteral("hello ami tomake world"), 9, 6);
  EXPECT_EQ(read(), "hello ami tomake world|6,3");
  client.detach();
}

// An engine object served on one end of a private D-Bus connection; the other end lists the
// messages it sends, as the daemon would receive them.
class PeerEngine {
 public:
  PeerEngine() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    gchar* guid = g_dbus_generate_guid();
    GIOStream* engineStream = stream(fds[0]);
    GIOStream* daemonStream = stream(fds[1]);
    g_dbus_connection_new(
        engineStream, guid, G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_SERVER, nullptr, nullptr,
        +[](GObject*, GAsyncResult* result, gpointer self) {
          static_cast<PeerEngine*>(self)->engineSide_ =
              g_dbus_connection_new_finish(result, nullptr);
        },
        this);
    daemonSide_ = g_dbus_connection_new_sync(daemonStream, nullptr,
                                             G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr,
                                             nullptr, nullptr);
    g_free(guid);
    g_object_unref(engineStream);
    g_object_unref(daemonStream);
    while (!engineSide_ && daemonSide_) g_main_context_iteration(nullptr, TRUE);
    if (!engineSide_ || !daemonSide_) return;
    g_dbus_connection_signal_subscribe(
        daemonSide_, nullptr, nullptr, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member,
            GVariant* parameters, gpointer self) {
          QString line = QString::fromUtf8(member);
          // A deletion with its offset and length.
          if (line == QLatin1String("DeleteSurroundingText")) {
            gint offset = 0;
            guint count = 0;
            g_variant_get(parameters, "(iu)", &offset, &count);
            line += QStringLiteral("(%1,%2)").arg(offset).arg(count);
          }
          static_cast<PeerEngine*>(self)->sent << line;
        },
        this, nullptr);
    engine_ = ibus_engine_new("test", "/org/freedesktop/IBus/Engine/Peer", engineSide_);
    engine_->client_capabilities = IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_SURROUNDING_TEXT;
  }
  ~PeerEngine() {
    if (engine_) ibus_object_destroy(IBUS_OBJECT(engine_));
    for (GDBusConnection* c : {engineSide_, daemonSide_}) {
      if (!c) continue;
      g_dbus_connection_close_sync(c, nullptr, nullptr);
      g_object_unref(c);
    }
  }
  IBusEngine* get() const { return engine_; }
  // What arrived since the last call, once the engine side has written everything.
  QStringList take() {
    g_dbus_connection_flush_sync(engineSide_, nullptr, nullptr);
    // One round trip on the receiving side puts every signal before it in the main context.
    GVariant* reply = g_dbus_connection_call_sync(
        engineSide_, nullptr, "/", "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return std::exchange(sent, {});
  }
  QStringList sent;

 private:
  static GIOStream* stream(int fd) {
    GSocket* socket = g_socket_new_from_fd(fd, nullptr);
    GIOStream* s = G_IO_STREAM(g_socket_connection_factory_create_connection(socket));
    g_object_unref(socket);
    return s;
  }
  GDBusConnection* engineSide_ = nullptr;
  GDBusConnection* daemonSide_ = nullptr;
  IBusEngine* engine_ = nullptr;
};

// Each change of the preedit goes out once; clearing a preedit that a commit has already cleared
// sends nothing, as the word typed before it was committed with the key.
TEST(IBusTextClientTest, APreeditGoesOutOnlyWhenItChanges) {
  PeerEngine peer;
  ASSERT_NE(peer.get(), nullptr);
  IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_2"));
  client.attach(peer.get());
  peer.take();

  client.setMarkedText(QString::fromUtf8("আমি"), {}, {3, 0}, platform::TextRange::notFound());
  EXPECT_EQ(peer.take().join(',').toStdString(), "UpdatePreeditText");
  client.insertText(QString::fromUtf8("আমি "), platform::TextRange::notFound());
  client.setMarkedText(QString(), {}, {0, 0}, platform::TextRange::notFound());
  EXPECT_EQ(peer.take().join(',').toStdString(), "UpdatePreeditText,CommitText");
  // With a preedit shown, an empty one clears it.
  client.setMarkedText(QStringLiteral("t"), {}, {1, 0}, platform::TextRange::notFound());
  client.setMarkedText(QString(), {}, {0, 0}, platform::TextRange::notFound());
  EXPECT_EQ(peer.take().join(',').toStdString(), "UpdatePreeditText,UpdatePreeditText");
  EXPECT_TRUE(client.markedRange().isNotFound());
  client.detach();
}

QString describe(platform::TextRange range) {
  if (range.isNotFound()) return QStringLiteral("{nf}");
  return QStringLiteral("{%1,%2}").arg(range.location).arg(range.length);
}

void report(IBusEngine* engine, const QString& text, unsigned cursor, unsigned anchor) {
  const QByteArray utf8 = text.toUtf8();
  g_signal_emit_by_name(engine, "set-surrounding-text", ibus_text_new_from_string(utf8.constData()),
                        cursor, anchor);
}

constexpr unsigned kQtCapabilities =
    IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_FOCUS | IBUS_CAP_SURROUNDING_TEXT;
constexpr unsigned kGtkCapabilities = kQtCapabilities | IBUS_CAP_SYNC_PROCESS_KEY;

// Each toolkit sends its positions its own way: Qt's module in UTF-16 units, GTK's and the rest
// in characters; a Qt text edit sends only the caret's paragraph, with the anchor outside it when
// the selection goes on; through IBus's GTK 4 module a text view's selection comes mirrored or
// lost. The selection read is the application's, or none.
TEST(IBusTextClientTest, SelectionIsReadAsItsToolkitSendsItOrNotAtAll) {
  struct Case {
    const char* name;
    const char* client;  // "" when the daemon has not named it
    unsigned capabilities;
    const char* text;
    unsigned cursor;
    unsigned anchor;
    const char* selection;  // in UTF-16 units
  };
  const Case cases[] = {
      {"Qt, after an emoji", "QIBusInputContext", kQtCapabilities, "😀 ami tomake", 13, 3, "{3,10}"},
      {"GTK 3, after an emoji", "gtk3-im:gedit", kGtkCapabilities, "😀 ami tomake", 2, 12, "{3,10}"},
      {"GTK 3, both sides", "gtk3-im:gedit", kGtkCapabilities, "hello friend ami tomake world", 23,
       13, "{13,10}"},
      {"unnamed, past the last character: UTF-16", "", kQtCapabilities, "😀 ami tomake", 3, 13,
       "{3,10}"},
      {"unnamed, inside the emoji in UTF-16: characters", "", kQtCapabilities, "hi the 😀 ok", 11, 8,
       "{9,3}"},
      {"unnamed, before any emoji", "", kQtCapabilities, "ami 😀", 3, 0, "{0,3}"},
      {"unnamed, either way", "", kQtCapabilities, "😀 ami tomake world", 3, 13, "{nf}"},
      {"unnamed, a caret either way", "", kQtCapabilities, "😀 ami", 4, 4, "{5,0}"},
      {"Qt text edit, anchor before the paragraph", "QIBusInputContext", kQtCapabilities,
       "tomake end", 6, 4294967292u, "{nf}"},
      {"Qt text edit, anchor after it", "QIBusInputContext", kQtCapabilities, "first ami", 6, 16,
       "{nf}"},
      {"GTK 4, a selection", "gtk4-im:(9)", kGtkCapabilities, "hello friend ami tomake world", 13,
       3, "{nf}"},
      {"GTK 4, a caret", "gtk4-im:(9)", kGtkCapabilities, "hello friend ami tomake world", 23, 23,
       "{23,0}"},
      {"unnamed GTK, a selection", "", kGtkCapabilities, "hello friend ami tomake world", 23, 13,
       "{nf}"},
  };
  ReportingEngine engine;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine.get()->client_capabilities = c.capabilities;
    IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_7"));
    if (*c.client) client.setClientName(QString::fromUtf8(c.client));
    client.attach(engine.get());
    report(engine.get(), QString::fromUtf8(c.text), c.cursor, c.anchor);
    EXPECT_EQ(describe(client.selectedRange()).toStdString(), c.selection);
    client.detach();
  }
}

// A commit replaces the selection in every toolkit: the selection is replaced by the commit
// alone, since a deletion first would be applied once more (Qt), after the commit (GTK 4), or not
// at all (Chromium). Another range is deleted first, counted as the toolkit counts.
TEST(IBusTextClientTest, TheSelectionIsReplacedByTheCommitAloneAndOtherRangesDeletedFirst) {
  PeerEngine peer;
  ASSERT_NE(peer.get(), nullptr);
  for (const char* name : {"QIBusInputContext", "gtk3-im:gedit"}) {
    SCOPED_TRACE(name);
    const bool qt = name[0] == 'Q';
    peer.get()->client_capabilities = qt ? kQtCapabilities : kGtkCapabilities;
    IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_3"));
    client.setClientName(QString::fromUtf8(name));
    client.attach(peer.get());
    report(peer.get(), QStringLiteral("hello friend ami tomake world"), 23, 13);
    peer.take();
    client.insertText(QString::fromUtf8("আমি তোমাকে"), {13, 10});
    EXPECT_EQ(peer.take().join(',').toStdString(), "CommitText");
    EXPECT_EQ(client.stringFromRange({0, 100}), QString::fromUtf8("hello friend আমি তোমাকে world"));
    EXPECT_EQ(describe(client.selectedRange()).toStdString(), "{23,0}");

    // "😀 the", before the caret: six UTF-16 units, five characters.
    const QString text = QString::fromUtf8("😀 the ok");
    report(peer.get(), text, qt ? 6 : 5, qt ? 6 : 5);
    peer.take();
    client.insertText(QStringLiteral("X"), {0, 6});
    EXPECT_EQ(peer.take().join(',').toStdString(),
              qt ? "DeleteSurroundingText(-6,6),RequireSurroundingText,CommitText"
                 : "DeleteSurroundingText(-5,5),RequireSurroundingText,CommitText");
    EXPECT_EQ(client.stringFromRange({0, 100}), QStringLiteral("X ok"));
    client.detach();
  }
}

// The menu's conversion comes without a key press: the client asks the context for its text and
// answers once it came, or once the context, which answers every request, sent nothing (its text
// did not change). GTK 3's module is made to read it by a preedit shown and hidden; a GTK 4 view
// would delete its selection for one, so it is not asked, and its selection cannot be known.
TEST(IBusTextClientTest, ARefreshOfTheSelectionWaitsForTheContextsAnswer) {
  PeerEngine peer;
  ASSERT_NE(peer.get(), nullptr);
  std::vector<bool> answers;
  const auto ask = [&](IBusTextClient& client) {
    client.refreshSelection([&](bool current) { answers.push_back(current); });
  };
  const auto serve = [](int ms) {
    const gint64 end = g_get_monotonic_time() + ms * 1000;
    while (g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE);
  };

  peer.get()->client_capabilities = kGtkCapabilities;
  {
    IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_4"));
    client.setClientName(QStringLiteral("gtk3-im:gedit"));
    client.attach(peer.get());
    peer.take();
    ask(client);
    EXPECT_EQ(peer.take().join(',').toStdString(),
              "RequireSurroundingText,ShowPreeditText,HidePreeditText");
    EXPECT_TRUE(answers.empty());
    report(peer.get(), QStringLiteral("hello ami tomake world"), 10, 7);
    EXPECT_EQ(answers, std::vector<bool>{true});
    EXPECT_EQ(describe(client.selectedRange()).toStdString(), "{7,3}");
    // Nothing changed: nothing comes, and the text last sent holds.
    answers.clear();
    ask(client);
    serve(800);
    EXPECT_EQ(answers, std::vector<bool>{true});
    // The focus left before the answer: nobody is answered.
    answers.clear();
    ask(client);
    client.detach();
    serve(800);
    EXPECT_TRUE(answers.empty());
  }
  {
    IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_5"));
    client.setClientName(QStringLiteral("gtk4-im:(9)"));
    client.attach(peer.get());
    peer.take();
    ask(client);
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_EQ(peer.take().join(',').toStdString(), "");
    client.detach();
  }
}

}  // namespace
}  // namespace tolvani
