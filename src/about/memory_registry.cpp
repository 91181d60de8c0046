#include "about/memory_registry.h"

namespace vorlan {

MemoryRegistry::KeyId MemoryRegistry::MakeId(quint32 keyRoot, const QString& keyName) {
  return {keyRoot, keyName.toLower()};
}

void MemoryRegistry::SetValue(quint32 keyRoot, const QString& keyName, const QString& valueName,
                              quint32 type, const QByteArray& data) {
  m_keys[MakeId(keyRoot, keyName)][valueName.toLower()] = Value{type, data};
}

void MemoryRegistry::AddKey(quint32 keyRoot, const QString& keyName) {
  m_keys[MakeId(keyRoot, keyName)];
}

bool MemoryRegistry::OpenKey(quint32 keyRoot, const QString& keyName, quint32 /*access*/,
                             Key& key) {
  const KeyId id = MakeId(keyRoot, keyName);
  if (!m_keys.contains(id)) return false;
  key = m_nextKey++;
  m_open.insert(key, id);
  return true;
}

bool MemoryRegistry::QueryValue(Key key, const QString& valueName, quint32 bufferSize,
                                quint32& type, QByteArray& data) {
  const auto open = m_open.constFind(key);
  if (open == m_open.constEnd()) return false;
  const auto& values = m_keys[*open];
  const auto value = values.constFind(valueName.toLower());
  // A value longer than the buffer fails, as the platform's read does.
  if (value == values.constEnd() || value->data.size() > qsizetype(bufferSize)) return false;
  type = value->type;
  data = value->data;
  return true;
}

void MemoryRegistry::CloseKey(Key key) {
  ++m_closeCalls;
  m_open.remove(key);
}

}  // namespace vorlan
