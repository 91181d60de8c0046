#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace vorlan {

// The local-machine root, as the program passes it.
inline constexpr quint32 kLocalMachineRoot = 0x80000002;
// Keys are opened with this access mask.
inline constexpr quint32 kKeyAccess = 0x2003F;
// A value is read into a buffer of this many bytes; a longer value cannot be read.
inline constexpr quint32 kValueBufferSize = 1024;

inline constexpr quint32 kTypeString = 1;
inline constexpr quint32 kTypeNumber = 4;

// Turns the bytes a value read returned into the caller's text. A trailing NUL is dropped.
// A string (type 1) replaces keyVal with the bytes in the local 8-bit code page, which is what
// the registry's ANSI functions return. A 32-bit number (type 4) replaces keyVal with its
// unsigned decimal text, read little-endian from the first four bytes (missing bytes count as
// zero, so the dropped NUL does not change it). Any other type leaves keyVal as it was.
void DecodeKeyValue(QByteArray data, quint32 type, QString& keyVal);

// The system registry, reduced to the three calls the About box makes. The reading routine is
// shared by every implementation, so the in-memory registry of the tests runs the same steps
// as the real one.
class Registry {
 public:
  // An open key; 0 when none was opened.
  using Key = quintptr;

  virtual ~Registry() = default;

  // Reads one value of key keyName under keyRoot. True when it was read; on failure keyVal is
  // emptied. The key is closed in every case, also after a failed open.
  bool GetKeyValue(quint32 keyRoot, const QString& keyName, const QString& subKeyRef,
                   QString& keyVal);

 protected:
  virtual bool OpenKey(quint32 keyRoot, const QString& keyName, quint32 access, Key& key) = 0;
  // Fills type and data as the platform returns them; fails when the value is missing or longer
  // than bufferSize.
  virtual bool QueryValue(Key key, const QString& valueName, quint32 bufferSize, quint32& type,
                          QByteArray& data) = 0;
  virtual void CloseKey(Key key) = 0;
};

// The machine's registry: the Windows registry on Windows; elsewhere, where there is none, an
// empty in-memory one.
std::unique_ptr<Registry> CreateSystemRegistry();

}  // namespace vorlan
