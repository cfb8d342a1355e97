// SPDX-License-Identifier: GPL-2.0-or-later
// The user's settings under string keys, with defaults registered at start-up that are never
// written to disk. Every change is written and synced at once, so a crash loses nothing and
// a second process reads the new value. Used on the main thread.
#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariantMap>
#include <memory>

namespace quillion {

class Defaults : public QObject {
  Q_OBJECT

 public:
  // `filePath` is the settings file (INI form). The shared instance uses standardFilePath().
  explicit Defaults(const QString& filePath, QObject* parent = nullptr);
  ~Defaults() override;

  // $XDG_CONFIG_HOME/quillion/quillion.conf
  static QString standardFilePath();

  // The instance the application installed; without one, a process-wide instance on the
  // standard file with nothing registered.
  static Defaults& shared();
  // Installs `defaults` as the shared instance (nullptr restores the process-wide one). The
  // caller keeps ownership and must outlive its use.
  static void setShared(Defaults* defaults);

  void registerDefaults(const QVariantMap& defaults);

  // The stored value, else the registered default, else an invalid variant.
  QVariant value(const QString& key) const;
  bool isStored(const QString& key) const;
  bool boolValue(const QString& key) const;
  int intValue(const QString& key) const;
  QString stringValue(const QString& key) const;
  QStringList stringList(const QString& key) const;
  QByteArray dataValue(const QString& key) const;

  // Stores and syncs; emits changed() when the value read back differs from before.
  // Answers false when the file could not be written.
  bool set(const QString& key, const QVariant& value);
  // Forgets the stored value, so the registered default shows again.
  bool remove(const QString& key);

  QString filePath() const;

 signals:
  void changed(const QString& key);

 private:
  bool syncAndReport();

  std::unique_ptr<QSettings> settings_;
  QVariantMap registered_;
};

}  // namespace quillion
