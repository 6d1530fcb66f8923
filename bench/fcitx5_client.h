// An application's input context on fcitx5's D-Bus interface, as GTK's and Qt's fcitx5 modules
// hold one, for the benchmarks: keys go asynchronously, and the preedit is taken the moment its
// signal arrives. Thread-safety: the main thread, which runs a GLib main context.
#ifndef TOLVANI_BENCH_FCITX5_CLIENT_H_
#define TOLVANI_BENCH_FCITX5_CLIENT_H_

#include <glib.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

namespace tolvani::bench {

// The name-value pairs fcitx5's CreateInputContext takes.
struct Fcitx5Pair {
  QString name;
  QString value;
};

inline QDBusArgument& operator<<(QDBusArgument& argument, const Fcitx5Pair& pair) {
  argument.beginStructure();
  argument << pair.name << pair.value;
  argument.endStructure();
  return argument;
}
inline const QDBusArgument& operator>>(const QDBusArgument& argument, Fcitx5Pair& pair) {
  argument.beginStructure();
  argument >> pair.name >> pair.value;
  argument.endStructure();
  return argument;
}

}  // namespace tolvani::bench

Q_DECLARE_METATYPE(tolvani::bench::Fcitx5Pair)

namespace tolvani::bench {

class Fcitx5Client final : public QObject {
  Q_OBJECT

 public:
  explicit Fcitx5Client(const QString& address)
      : bus_(QDBusConnection::connectToBus(address, QStringLiteral("bench-fcitx5"))) {}
  ~Fcitx5Client() override { QDBusConnection::disconnectFromBus(QStringLiteral("bench-fcitx5")); }

  bool open() {
    qDBusRegisterMetaType<Fcitx5Pair>();
    qDBusRegisterMetaType<QList<Fcitx5Pair>>();
    QDBusMessage create = QDBusMessage::createMethodCall(
        QStringLiteral("org.fcitx.Fcitx5"), QStringLiteral("/org/freedesktop/portal/inputmethod"),
        QStringLiteral("org.fcitx.Fcitx.InputMethod1"), QStringLiteral("CreateInputContext"));
    create << QVariant::fromValue(
        QList<Fcitx5Pair>{{QStringLiteral("program"), QStringLiteral("bench")}});
    const QDBusMessage reply = bus_.call(create, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      std::fprintf(stderr, "fcitx5 made no input context: %s\n", qPrintable(reply.errorMessage()));
      return false;
    }
    path_ = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
    const QString ic = QStringLiteral("org.fcitx.Fcitx.InputContext1");
    bus_.connect(QStringLiteral("org.fcitx.Fcitx5"), path_, ic,
                 QStringLiteral("UpdateFormattedPreedit"), this, SLOT(preedit(QDBusMessage)));
    bus_.connect(QStringLiteral("org.fcitx.Fcitx5"), path_, ic, QStringLiteral("CommitString"),
                 this, SLOT(commit(QString)));
    // Preedit, formatted preedit, commit on focus loss by the client, surrounding text.
    call(QStringLiteral("SetCapability"),
         {QVariant::fromValue(qulonglong((1 << 1) | (1 << 4) | (1 << 5) | (1 << 6)))});
    call(QStringLiteral("FocusIn"), {});
    return true;
  }

  // Keys pass by until the addon has started the program and reached it: an "a" that it takes,
  // then a space that commits it; false after 20 s. Forgets what was committed.
  bool reachTolvani() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(sendKey('a', 30 + 8) && handled)) {
      if (std::chrono::steady_clock::now() > deadline) {
        std::fprintf(stderr, "Tolvani did not answer through fcitx5\n");
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    sendKey(' ', 57 + 8);
    committed.clear();
    commits = 0;
    return true;
  }

  // Sends one key and serves the main context until its answer is in; false after 2 s.
  bool sendKey(unsigned keysym, unsigned keycode) {
    received.reset();
    answered = false;
    QDBusMessage key = QDBusMessage::createMethodCall(
        QStringLiteral("org.fcitx.Fcitx5"), path_, QStringLiteral("org.fcitx.Fcitx.InputContext1"),
        QStringLiteral("ProcessKeyEvent"));
    key << keysym << keycode << 0u << false << 0u;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(key, 2000), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this](QDBusPendingCallWatcher* w) {
                       const QDBusPendingReply<bool> reply = *w;
                       handled = reply.isValid() && reply.value();
                       answered = true;
                       w->deleteLater();
                     });
    bool late = false;
    const guint limit = g_timeout_add(2000, onTimeLimit, &late);
    while (!answered && !late) g_main_context_iteration(nullptr, TRUE);
    if (!late) g_source_remove(limit);
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    return answered;
  }

  std::optional<std::chrono::steady_clock::time_point> received;
  QString committed;
  int commits = 0;
  bool answered = false;
  bool handled = false;

 private Q_SLOTS:
  void preedit(const QDBusMessage&) {
    if (!received) received = std::chrono::steady_clock::now();
  }
  void commit(const QString& text) {
    if (!received) received = std::chrono::steady_clock::now();
    committed += text;
    ++commits;
  }

 private:
  static gboolean onTimeLimit(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
  }

  void call(const QString& method, const QVariantList& arguments) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QStringLiteral("org.fcitx.Fcitx5"), path_,
                                       QStringLiteral("org.fcitx.Fcitx.InputContext1"), method);
    message.setArguments(arguments);
    bus_.call(message, QDBus::Block, 5000);
  }

  QDBusConnection bus_;
  QString path_;
};

}  // namespace tolvani::bench

#endif  // TOLVANI_BENCH_FCITX5_CLIENT_H_
