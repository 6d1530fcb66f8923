#include "ime/ibus/IBusTextClient.h"

#include <gtest/gtest.h>
#include <ibus.h>
#include <sys/socket.h>

#include <QStringList>

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
            GVariant*,
            gpointer self) { static_cast<PeerEngine*>(self)->sent << QString::fromUtf8(member); },
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

}  // namespace
}  // namespace tolvani
