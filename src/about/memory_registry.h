#pragma once

#include "about/registry.h"

#include <QHash>
#include <QPair>

namespace vorlan {

// A registry held in memory: the stand-in on platforms without one, and the one tests fill.
// Key and value names match without regard to case, as in the Windows registry.
class MemoryRegistry final : public Registry {
 public:
  // Stores a value as raw bytes with its type, creating the key when needed.
  void SetValue(quint32 keyRoot, const QString& keyName, const QString& valueName, quint32 type,
                const QByteArray& data);
  // Creates an empty key.
  void AddKey(quint32 keyRoot, const QString& keyName);

  // Keys opened and not yet closed; the reading routine must leave none behind.
  int OpenKeys() const { return static_cast<int>(m_open.size()); }
  int CloseCalls() const { return m_closeCalls; }

 protected:
  bool OpenKey(quint32 keyRoot, const QString& keyName, quint32 access, Key& key) override;
  bool QueryValue(Key key, const QString& valueName, quint32 bufferSize, quint32& type,
                  QByteArray& data) override;
  void CloseKey(Key key) override;

 private:
  using KeyId = QPair<quint32, QString>;
  struct Value {
    quint32 type = 0;
    QByteArray data;
  };

  static KeyId MakeId(quint32 keyRoot, const QString& keyName);

  QHash<KeyId, QHash<QString, Value>> m_keys;
  QHash<Key, KeyId> m_open;
  Key m_nextKey = 1;
  int m_closeCalls = 0;
};

}  // namespace vorlan
