#include "about/registry.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "about/memory_registry.h"
#endif

namespace vorlan {

#ifdef Q_OS_WIN
namespace {

// The predefined roots are 32-bit values sign-extended into a handle.
HKEY RootHandle(quint32 keyRoot) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(keyRoot)));
}

class WindowsRegistry final : public Registry {
 protected:
  bool OpenKey(quint32 keyRoot, const QString& keyName, quint32 access, Key& key) override {
    HKEY handle = nullptr;
    const QByteArray name = keyName.toLocal8Bit();
    const LONG result = RegOpenKeyExA(RootHandle(keyRoot), name.constData(), 0, access, &handle);
    key = reinterpret_cast<Key>(handle);
    return result == ERROR_SUCCESS;
  }

  bool QueryValue(Key key, const QString& valueName, quint32 bufferSize, quint32& type,
                  QByteArray& data) override {
    QByteArray buffer(qsizetype(bufferSize), '\0');
    DWORD size = bufferSize;
    DWORD valueType = 0;
    const QByteArray name = valueName.toLocal8Bit();
    const LONG result =
        RegQueryValueExA(reinterpret_cast<HKEY>(key), name.constData(), nullptr, &valueType,
                         reinterpret_cast<LPBYTE>(buffer.data()), &size);
    if (result != ERROR_SUCCESS) return false;
    type = valueType;
    data = buffer.left(qsizetype(size));
    return true;
  }

  void CloseKey(Key key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }
};

}  // namespace

std::unique_ptr<Registry> CreateSystemRegistry() { return std::make_unique<WindowsRegistry>(); }

#else

std::unique_ptr<Registry> CreateSystemRegistry() { return std::make_unique<MemoryRegistry>(); }

#endif

}  // namespace vorlan
