#pragma once

#include <QHash>
#include <QString>

namespace vorlan {

// The per-user settings: text values addressed by application, section and key. Section and key
// names (and the application name) match without regard to case, as they do in the registry
// the program was designed for. Nothing is cached: every call reads or writes the file.
class SettingsStore {
 public:
  // The store in the user's configuration folder, e.g. ~/.config/VORLAN/VORLAN.ini.
  SettingsStore();
  // A store kept in the given file; tests use a temporary one.
  explicit SettingsStore(QString filePath);
  // A store that keeps what it is given in memory only and starts empty: for a program that
  // runs the main window's handlers but must not read or write the user's settings.
  static SettingsStore InMemory();

  // The stored text, or the default when the application, section or key has no value. A stored
  // empty text is a value and comes back empty.
  QString GetSetting(const QString& application, const QString& section, const QString& key,
                     const QString& defaultValue) const;
  QString GetSetting(const QString& application, const QString& section, const QString& key,
                     int defaultValue) const;
  // Stores the text as it stands; returns false when the store could not be written.
  bool SaveSetting(const QString& application, const QString& section, const QString& key,
                   const QString& value);

  const QString& FilePath() const { return m_filePath; }
  static QString DefaultFilePath();

 private:
  QString m_filePath;
  bool m_inMemory = false;
  QHash<QString, QString> m_memory;
};

}  // namespace vorlan
