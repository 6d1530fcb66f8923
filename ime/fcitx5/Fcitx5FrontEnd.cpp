#include "ime/fcitx5/Fcitx5FrontEnd.h"
#include <algorithm>

#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ime/CandidatePanel.h"
#include "ime/CandidatePanelWindow.h"
#include "ime/KeyTable.h"
#include "ime/TestEvents.h"
#include "ime/TolvaniInputController.h"
#include "ime/fcitx5/Fcitx5Messages.h"
#include "ime/fcitx5/Fcitx5Protocol.h"
#include "ime/fcitx5/Fcitx5TextClient.h"
#include "platform/Log.h"

namespace tolvani {
namespace {

namespace protocol = fcitx5protocol;

struct Connection;

struct Context {
  Connection* connection = nullptr;
  std::uint32_t id = 0;
  std::unique_ptr<Fcitx5TextClient> client;
  std::unique_ptr<TolvaniInputController> controller;
  // Actions not yet sent: they go with the answer to the key being handled, else at once.
  std::vector<std::string> pending;
};

struct Connection {
  int fd = -1;
  std::unique_ptr<QSocketNotifier> readable;
  std::unique_ptr<QSocketNotifier> writable;
  std::string buffer;
  // What the addon has not taken yet.
  std::string outbox;
  bool closed = false;
  std::map<std::uint32_t, Context> contexts;
  // A message is being handled: actions wait for its end.
  bool handling = false;
};

class Fcitx5CandidateFace;

struct FrontEndState {
  int listener = -1;
  std::unique_ptr<QSocketNotifier> listening;
  std::vector<std::unique_ptr<Connection>> connections;
  Context* focused = nullptr;
  // The context that had the focus last, while it lives: a panel's menu takes the focus from it
  // as it opens, and the menu's rows still speak for it.
  Context* lastFocused = nullptr;
  Fcitx5CandidateFace* shownFace = nullptr;
  QTimer menuTimer;
};

FrontEndState& state() {
  static FrontEndState s;
  return s;
}

QString label(const Context& context) { return QStringLiteral("fcitx5:%1").arg(context.id); }

void closeSoon(Connection* connection);

void sendOutbox(Connection& connection) {
  while (!connection.outbox.empty()) {
    const ssize_t n = ::send(connection.fd, connection.outbox.data(), connection.outbox.size(),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      connection.outbox.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      return closeSoon(&connection);
    }
  }
  connection.writable->setEnabled(!connection.outbox.empty());
}

void write(Connection& connection, protocol::Writer& message) {
  if (connection.closed) return;
  connection.outbox += message.frame();
  sendOutbox(connection);
}

void appendActions(protocol::Writer& message, std::vector<std::string>& actions) {
  message.u32(static_cast<std::uint32_t>(actions.size()));
  std::string all;
  for (const std::string& action : actions) all += action;
  actions.clear();
  // The actions are encoded already: appended as they are.
  for (char c : all) message.u8(static_cast<std::uint8_t>(c));
}

void flush(Context& context) {
  if (context.pending.empty() || context.connection->closed) return;
  protocol::Writer update(static_cast<std::uint8_t>(protocol::ToAddon::update));
  update.u32(context.id);
  appendActions(update, context.pending);
  write(*context.connection, update);
}

void queue(Context& context, std::string action) {
  context.pending.push_back(std::move(action));
  if (!context.connection->handling) flush(context);
}

std::string encoded(protocol::Writer& writer) { return writer.frame().substr(4); }

std::string utf8(const QString& text) { return text.toStdString(); }

// The panel as fcitx5's own candidate list: rows with their numbers and badges, the selected row
// as its cursor, the header and status messages as the line fcitx5 shows above the list.
class Fcitx5CandidateFace final : public CandidatePanelFace {
 public:
  Fcitx5CandidateFace() {
    sendTimer_.setSingleShot(true);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    sendTimer_.setInterval(CandidatePanelWindow::kPaintDelayMs);
    QObject::connect(&sendTimer_, &QTimer::timeout, &sendTimer_, [this] {
      if (panel_) send(*panel_);
    });
  }
  ~Fcitx5CandidateFace() override {
    if (state().shownFace == this) state().shownFace = nullptr;
  }
  bool placesWindows() const override { return false; }
  std::vector<ScreenArea> screens() const override { return {}; }
  qreal statusTextWidth(const QString& message) const override { return 7.0 * message.size(); }
  // The list follows once the keys pause, as the IBus face's does: a key's preedit never waits
  // behind its list.
  void render(const CandidatePanel& panel) override {
    panel_ = &panel;
    if (panel.layout().state == CandidatePanel::State::status) {
      TestEvents::record(QStringLiteral("status ") + panel.layout().statusMessage);
    }
    sendTimer_.start();
  }
  void postpone() override {
    if (sendTimer_.isActive()) sendTimer_.start();
  }
  void hide() override {
    sendTimer_.stop();
    if (!shown_) return;
    shown_ = false;
    if (Context* context = state().focused) {
      protocol::Writer action(static_cast<std::uint8_t>(protocol::Action::candidates));
      action.u32(0).i32(-1).text("");
      queue(*context, encoded(action));
    }
  }
  void clicked(int row) {
    if (panel_) const_cast<CandidatePanel*>(panel_)->rowClicked(row);
  }

 private:
  void send(const CandidatePanel& panel) {
    Context* context = state().focused;
    if (!context) return;
    state().shownFace = this;
    const CandidatePanel::Layout& layout = panel.layout();
    protocol::Writer action(static_cast<std::uint8_t>(protocol::Action::candidates));
    if (layout.state == CandidatePanel::State::status) {
      action.u32(0).i32(-1).text(utf8(layout.statusMessage));
    } else {
      std::vector<std::pair<std::string, std::string>> rows;
      for (const CandidatePanel::Row& row : panel.rows()) {
        if (!row.visible || !row.item) continue;
        QString text = row.item->text;
        if (!row.badge.isEmpty()) text += QStringLiteral("  ") + row.badge;
        rows.emplace_back(utf8(text), utf8(row.number));
      }
      action.u32(static_cast<std::uint32_t>(rows.size()));
      for (const auto& [text, number] : rows) action.text(text).text(number);
      action.i32(rows.empty() ? -1 : panel.selectedIndex());
      QString header;
      if (layout.headerVisible && !layout.headerRawText.isEmpty()) {
        header = layout.headerRawText;
        if (!layout.headerPreedit.isEmpty()) header += QStringLiteral("  ") + layout.headerPreedit;
      }
      action.text(utf8(header));
    }
    shown_ = true;
    queue(*context, encoded(action));
  }

  const CandidatePanel* panel_ = nullptr;  // the panel that owns this face
  QTimer sendTimer_;
  bool shown_ = false;
};

void writeMenu(protocol::Writer& out, const InputMenu& menu, unsigned depth) {
  const bool deeper = depth + 1 < protocol::kMaxMenuDepth;
  // A hidden row (secure entry while it is off) is left out: fcitx5 takes the whole menu anew.
  out.u32(static_cast<std::uint32_t>(std::count_if(
      menu.begin(), menu.end(), [](const InputMenuRow& row) { return row.visible; })));
  for (const InputMenuRow& row : menu) {
    if (!row.visible) continue;
    out.text(utf8(row.key))
        .u8(static_cast<std::uint8_t>(row.kind))
        .text(utf8(row.title))
        .text(utf8(row.iconName))
        .u8(row.on ? 1 : 0)
        .u8(row.sensitive ? 1 : 0);
    if (row.kind == InputMenuRow::Kind::submenu)
      writeMenu(out, deeper ? row.rows : InputMenu{}, depth + 1);
  }
}

static_assert(static_cast<int>(InputMenuRow::Kind::header) ==
              static_cast<int>(protocol::RowKind::header));
static_assert(static_cast<int>(InputMenuRow::Kind::submenu) ==
              static_cast<int>(protocol::RowKind::submenu));

Context* menuContext() { return state().focused ? state().focused : state().lastFocused; }

void sendMenu() {
  Context* context = menuContext();
  if (!context) return;
  protocol::Writer action(static_cast<std::uint8_t>(protocol::Action::menu));
  writeMenu(action, context->controller->menu(), 0);
  queue(*context, encoded(action));
}

// The menu goes once the keys pause: a key typed meanwhile would wait behind it.
void sendMenuSoon() { state().menuTimer.start(); }

void focusOut(Context& context) {
  // fcitx5, or the toolkit, commits the preedit it shows into the context as it loses the focus.
  context.controller->deactivateServer(context.client.get(),
                                       TolvaniInputController::PendingText::insertedByClient);
  context.client->forgetPreedit();
  if (state().focused == &context) state().focused = nullptr;
  TestEvents::record(QStringLiteral("deactivate ") + label(context));
}

Context& contextFor(Connection& connection, std::uint32_t id) {
  auto found = connection.contexts.find(id);
  if (found != connection.contexts.end()) return found->second;
  Context& context = connection.contexts[id];
  context.connection = &connection;
  context.id = id;
  Context* self = &context;
  context.client = std::make_unique<Fcitx5TextClient>(
      [self](std::string action) { queue(*self, std::move(action)); });
  context.controller = std::make_unique<TolvaniInputController>(context.client.get());
  context.controller->setRankingDeferred(true);
  context.controller->setMenuObserver([self] {
    if (menuContext() == self) sendMenuSoon();
  });
  TestEvents::record(QStringLiteral("controller ") + label(context));
  return context;
}

void focusIn(Context& context) {
  if (state().focused == &context) return;
  if (state().focused) focusOut(*state().focused);
  if (state().lastFocused && state().lastFocused != &context) {
    state().lastFocused->controller->forgetConversionOnReturn();
  }
  state().focused = &context;
  state().lastFocused = &context;
  context.controller->activateServer(context.client.get());
  sendMenuSoon();
  TestEvents::record(QStringLiteral("activate ") + label(context));
}

void release(Connection& connection, std::uint32_t id) {
  auto found = connection.contexts.find(id);
  if (found == connection.contexts.end()) return;
  Context& context = found->second;
  if (state().focused == &context) focusOut(context);
  if (state().lastFocused == &context) state().lastFocused = nullptr;
  TestEvents::record(QStringLiteral("release ") + label(context));
  connection.contexts.erase(found);
}

platform::InputPurpose purposeOf(std::uint8_t value) {
  switch (static_cast<protocol::Purpose>(value)) {
    case protocol::Purpose::freeForm:
      return platform::InputPurpose::freeForm;
    case protocol::Purpose::password:
      return platform::InputPurpose::password;
    case protocol::Purpose::pin:
      return platform::InputPurpose::pin;
    default:
      return platform::InputPurpose::other;
  }
}

// The field's text around the caret, when it tells it.
std::optional<QString> toldText(const protocol::KeyMessage& key) {
  return key.hasText ? std::optional(QString::fromStdString(key.text)) : std::nullopt;
}

// One message; false when it cannot be read (the connection is then refused and closed).
bool handle(Connection& connection, const std::string& body) {
  const std::optional<protocol::AddonMessage> message = protocol::readAddonMessage(body);
  if (!message) return false;
  switch (message->type) {
    case protocol::ToProgram::hello:
      return message->version == protocol::kVersion;
    case protocol::ToProgram::focusIn: {
      Context& context = contextFor(connection, message->context);
      focusIn(context);
      flush(context);
      return true;
    }
    case protocol::ToProgram::focusOut:
    case protocol::ToProgram::reset:
    case protocol::ToProgram::resync:
    case protocol::ToProgram::contextGone: {
      auto found = connection.contexts.find(message->context);
      if (found == connection.contexts.end()) return true;
      Context& context = found->second;
      if (message->type == protocol::ToProgram::contextGone) {
        release(connection, message->context);
        return true;
      }
      if (message->type == protocol::ToProgram::focusOut) {
        if (state().focused == &context) focusOut(context);
      } else {
        // The client has put in the preedit it showed (a click, or keys that went on without us).
        context.controller->commitComposition(
            context.client.get(), TolvaniInputController::PendingText::insertedByClient);
        context.client->forgetPreedit();
        if (message->type == protocol::ToProgram::resync)
          TestEvents::record(QStringLiteral("resync"));
      }
      flush(context);
      return true;
    }
    case protocol::ToProgram::key: {
      const protocol::KeyMessage& key = message->key;
      Context& context = contextFor(connection, message->context);
      focusIn(context);
      context.client->report(toldText(key), key.cursor, key.anchor,
                             QRectF(key.x, key.y, key.width, key.height), purposeOf(key.purpose));
      context.controller->inputPurposeChanged();
      const KeyEvent event = keyEventFromKeysym(key.keysym, key.keycode, key.state, key.character);
      // A key puts off the menu that is due.
      if (state().menuTimer.isActive()) sendMenuSoon();
      const bool handled = event.keyDown && context.controller->handle(event, context.client.get());
      protocol::Writer answer(static_cast<std::uint8_t>(protocol::ToAddon::answer));
      answer.u32(key.sequence).u8(handled ? 1 : 0);
      appendActions(answer, context.pending);
      write(connection, answer);
      return true;
    }
    case protocol::ToProgram::surrounding: {
      const protocol::KeyMessage& told = message->key;
      auto found = connection.contexts.find(message->context);
      if (found != connection.contexts.end()) {
        found->second.client->reportText(toldText(told), told.cursor, told.anchor);
      }
      return true;
    }
    case protocol::ToProgram::candidateClicked: {
      auto found = connection.contexts.find(message->context);
      if (found != connection.contexts.end() && state().focused == &found->second &&
          state().shownFace &&
          message->row < static_cast<std::uint32_t>(CandidatePanel::kMaxRows)) {
        state().shownFace->clicked(static_cast<int>(message->row));
        flush(found->second);
      }
      return true;
    }
    case protocol::ToProgram::menuActivate: {
      const std::uint32_t id = message->context;
      const QString key = QString::fromStdString(message->rowKey);
      auto found = connection.contexts.find(id);
      TestEvents::record(QStringLiteral("menu row ") + key +
                         (state().focused ? QString() : QStringLiteral(" without focus")));
      if (found == connection.contexts.end()) {
        TolvaniInputController::activateMenuItemWithoutController(key, message->on);
        return true;
      }
      Context& context = found->second;
      context.controller->activateMenuItem(key, message->on);
      // A window may have opened a nested loop meanwhile; the context may be gone.
      auto still = connection.contexts.find(id);
      if (still != connection.contexts.end()) {
        sendMenu();
        flush(still->second);
      }
      return true;
    }
  }
  return false;
}

void refuse(Connection& connection, const char* why) {
  platform::log::line(QStringLiteral("Refused a message from fcitx5's addon: ") +
                      QString::fromLatin1(why));
  protocol::Writer refused(static_cast<std::uint8_t>(protocol::ToAddon::refused));
  refused.text(why);
  write(connection, refused);
  closeSoon(&connection);
}

void closeConnection(Connection* connection) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, context] : connection->contexts) ids.push_back(id);
  for (std::uint32_t id : ids) release(*connection, id);
  auto& all = state().connections;
  for (auto it = all.begin(); it != all.end(); ++it) {
    if (it->get() != connection) continue;
    connection->readable.reset();
    connection->writable.reset();
    ::close(connection->fd);
    all.erase(it);
    break;
  }
}

// The connection ends once the present message is done with: its contexts' controllers end.
void closeSoon(Connection* connection) {
  if (connection->closed) return;
  connection->closed = true;
  connection->readable->setEnabled(false);
  connection->writable->setEnabled(false);
  ::shutdown(connection->fd, SHUT_RDWR);
  QTimer::singleShot(0, QCoreApplication::instance(),
                     [connection] { closeConnection(connection); });
}

void readMessages(Connection* connection) {
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(connection->fd, chunk, sizeof(chunk), MSG_DONTWAIT);
    if (n > 0) {
      connection->buffer.append(chunk, static_cast<std::size_t>(n));
      if (connection->buffer.size() > 2 * protocol::kMaxMessage) {
        return refuse(*connection, "more than it can hold");
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // The addon's end: fcitx5 ended or restarts.
    TestEvents::record(QStringLiteral("fcitx5 disconnected"));
    return closeSoon(connection);
  }
  std::string body;
  bool broken = false;
  while (!connection->closed && protocol::takeMessage(connection->buffer, body, broken)) {
    connection->handling = true;
    const bool ok = handle(*connection, body);
    connection->handling = false;
    for (auto& [id, context] : connection->contexts) flush(context);
    if (!ok) return refuse(*connection, "a message that cannot be read");
  }
  if (broken) refuse(*connection, "a message of a length out of bounds");
}

void accept() {
  for (;;) {
    const int fd = ::accept4(state().listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    // Only the person's own fcitx5 reaches their typing and their learned words.
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid()) {
      platform::log::line(
          QStringLiteral("Refused a connection to fcitx5's socket from another "
                         "user"));
      ::close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connection->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(connection->readable.get(), &QSocketNotifier::activated,
                     connection->readable.get(), [raw] { readMessages(raw); });
    connection->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connection->writable->setEnabled(false);
    QObject::connect(connection->writable.get(), &QSocketNotifier::activated,
                     connection->writable.get(), [raw] { sendOutbox(*raw); });
    state().connections.push_back(std::move(connection));
    TestEvents::record(QStringLiteral("fcitx5 connected"));
  }
}

// A socket at `path` that a program answers on.
bool answers(const sockaddr_un& address) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

bool Fcitx5FrontEnd::start() {
  const std::string path = protocol::socketPath();
  if (path.empty()) {
    platform::log::line(
        QStringLiteral("No place for fcitx5's socket: the runtime folder's path "
                       "is too long"));
    return false;
  }
  const QString shownPath = QString::fromStdString(path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (answers(address)) {
    platform::log::line(QStringLiteral("Another Tolvani already serves fcitx5 at ") + shownPath +
                        QStringLiteral("; this one exits"));
    return false;
  }
  // A socket nobody answers on is a former program's.
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) ::unlink(path.c_str());
  FrontEndState& s = state();
  s.listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const mode_t mask = ::umask(0077);
  const bool bound =
      s.listener >= 0 &&
      ::bind(s.listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
      ::listen(s.listener, 16) == 0;
  ::umask(mask);
  if (!bound) {
    platform::log::line(QStringLiteral("Cannot listen for fcitx5 at ") + shownPath +
                        QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
    if (s.listener >= 0) ::close(std::exchange(s.listener, -1));
    return false;
  }
  s.listening = std::make_unique<QSocketNotifier>(s.listener, QSocketNotifier::Read);
  QObject::connect(s.listening.get(), &QSocketNotifier::activated, s.listening.get(),
                   [] { accept(); });
  s.menuTimer.setSingleShot(true);
  s.menuTimer.setInterval(4);
  QObject::connect(&s.menuTimer, &QTimer::timeout, &s.menuTimer, [] { sendMenu(); });
  CandidatePanel::setFaceFactory([] {
    return std::pair(std::unique_ptr<CandidatePanelFace>(),
                     std::unique_ptr<CandidatePanelFace>(std::make_unique<Fcitx5CandidateFace>()));
  });
  TestEvents::record(QStringLiteral("fcitx5 listening %1").arg(::getpid()));
  return true;
}

void Fcitx5FrontEnd::stop() {
  FrontEndState& s = state();
  s.menuTimer.stop();
  s.focused = nullptr;
  s.lastFocused = nullptr;
  for (auto& connection : s.connections) {
    connection->closed = true;
    connection->contexts.clear();
    connection->readable.reset();
    connection->writable.reset();
    ::close(connection->fd);
  }
  s.connections.clear();
  s.listening.reset();
  if (s.listener >= 0) ::close(std::exchange(s.listener, -1));
}

}  // namespace tolvani
