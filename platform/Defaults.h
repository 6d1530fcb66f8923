// The defaults suite: typed settings in a property list at
// configHome()/tolvani/<bundle identifier>.plist, with a registration domain kept in memory.
// Values are QVariants of exactly these types: bool, qint64, double, QString, QByteArray (data),
// QVariantList and QVariantMap (string keys) of the same. A value of another type is refused;
// other integer widths and float are stored as qint64 and double. Writers in several processes
// take turns on the sibling "<file>.lock"; a file that does not read as a dictionary reads as
// empty and is kept as "<file>.corrupt-<seconds>" when the next change replaces it.
// Thread-safety: safe for concurrent use from any thread. Every read notices a file that another
// process replaced since the last read and reads it again.
#ifndef TOLVANI_PLATFORM_DEFAULTS_H_
#define TOLVANI_PLATFORM_DEFAULTS_H_

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace tolvani::platform {

class Defaults {
 public:
  // The suite of this process, made on first use at the path of the bundle identifier.
  static Defaults& standard();
  // Forgets the process's suite so that the next standard() opens the file again (after a test
  // moved XDG_CONFIG_HOME).
  static void testResetStandard();

  explicit Defaults(QString filePath);
  ~Defaults();
  Defaults(const Defaults&) = delete;
  Defaults& operator=(const Defaults&) = delete;

  const QString& filePath() const;

  // The stored value, else the registered one, else none.
  std::optional<QVariant> object(const QString& key) const;
  // Typed reads of object(): none when absent or of another type. integer() accepts only a
  // stored integer, boolean() only a stored Bool, and so on.
  std::optional<qint64> integer(const QString& key) const;
  std::optional<bool> boolean(const QString& key) const;
  std::optional<double> floatingPoint(const QString& key) const;
  std::optional<QString> string(const QString& key) const;
  std::optional<QByteArray> data(const QString& key) const;

  // Stores `value` and writes the file atomically. Returns false, changing nothing, for a value
  // of an unsupported type or when the file cannot be written (the failure is logged).
  bool set(const QString& key, const QVariant& value);
  // Removes the stored value (the registered one shows again) and writes the file.
  bool remove(const QString& key);

  // True when another process changed the stored values since this process last asked (this
  // process's own writes are no change, and do not hide one made elsewhere before them); each
  // change is answered true once. The first call only takes note of the values.
  bool takeOutsideChange();

  // Fallback values, read when nothing is stored; never written to the file.
  void registerDefaults(const QVariantMap& values);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tolvani::platform

#endif  // TOLVANI_PLATFORM_DEFAULTS_H_
