#include "platform/settings_store.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace vorlan {
namespace {

// QSettings' INI backend is case-sensitive, and '/' or '\' would open sub-groups: fold the case
// and percent-encode everything but letters and digits so each name is one plain INI name.
QString Normalise(const QString& name) {
  const QByteArray folded = name.toCaseFolded().toUtf8();
  return QString::fromLatin1(folded.toPercentEncoding(QByteArray(), QByteArray("_-.")));
}

QString PathOf(const QString& application, const QString& section, const QString& key) {
  return Normalise(application) + '.' + Normalise(section) + '/' + Normalise(key);
}

}  // namespace

SettingsStore::SettingsStore() : SettingsStore(DefaultFilePath()) {}

SettingsStore::SettingsStore(QString filePath) : m_filePath(std::move(filePath)) {}

SettingsStore SettingsStore::InMemory() {
  SettingsStore store{QString()};
  store.m_inMemory = true;
  return store;
}

QString SettingsStore::DefaultFilePath() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return QDir(base).filePath(QStringLiteral("VORLAN/VORLAN.ini"));
}

QString SettingsStore::GetSetting(const QString& application, const QString& section,
                                  const QString& key, const QString& defaultValue) const {
  if (m_inMemory) return m_memory.value(PathOf(application, section, key), defaultValue);
  QSettings store(m_filePath, QSettings::IniFormat);
  const QVariant value = store.value(PathOf(application, section, key));
  return value.isValid() ? value.toString() : defaultValue;
}

QString SettingsStore::GetSetting(const QString& application, const QString& section,
                                  const QString& key, int defaultValue) const {
  return GetSetting(application, section, key, QString::number(defaultValue));
}

bool SettingsStore::SaveSetting(const QString& application, const QString& section,
                                const QString& key, const QString& value) {
  if (m_inMemory) {
    m_memory.insert(PathOf(application, section, key), value);
    return true;
  }
  QSettings store(m_filePath, QSettings::IniFormat);
  store.setValue(PathOf(application, section, key), value);
  store.sync();
  return store.status() == QSettings::NoError;
}

}  // namespace vorlan
