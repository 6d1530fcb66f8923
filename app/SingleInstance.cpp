#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QObject>

#include "platform/Bundle.h"

namespace tolvani::SingleInstance {
namespace {

const QString kObjectPath = QStringLiteral("/");

class Service final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.tolvani.inputmethod.TolvaniIME")

 public:
  explicit Service(std::function<void()> reopen) : reopen_(std::move(reopen)) {}

 public Q_SLOTS:
  void Reopen() {
    if (reopen_) reopen_();
  }

 private:
  std::function<void()> reopen_;
};

}  // namespace

const QString& serviceName() {
  static const QString name = platform::bundle::identifier();
  return name;
}

Claim claim(std::function<void()> reopen, bool queue) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return Claim::noBus;
  static Service* service = nullptr;
  if (!service) {
    service = new Service(std::move(reopen));
    bus.registerObject(kObjectPath, service, QDBusConnection::ExportAllSlots);
  }
  // Queued or not, a second start learns at once that the name is taken.
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
      bus.interface()->registerService(serviceName(),
                                       queue ? QDBusConnectionInterface::QueueService
                                             : QDBusConnectionInterface::DontQueueService,
                                       QDBusConnectionInterface::DontAllowReplacement);
  if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
    return Claim::owner;
  }
  return Claim::another;
}

bool handOver() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      serviceName(), kObjectPath, QStringLiteral("com.tolvani.inputmethod.TolvaniIME"),
      QStringLiteral("Reopen"));
  const QDBusMessage answer = bus.call(call, QDBus::Block, 10000);
  return answer.type() == QDBusMessage::ReplyMessage;
}

}  // namespace tolvani::SingleInstance

#include "SingleInstance.moc"
