#include "collect/config_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace vorlan::collect {

std::optional<QString> ReadConfigFile(const QString& path, Options& options) {
  const QString where = QDir::toNativeSeparators(path);
  QFile file(path);
  if (QFileInfo(path).isDir()) return QStringLiteral("%1: is a folder, not a file").arg(where);
  if (!file.open(QIODevice::ReadOnly)) {
    return QStringLiteral("%1: cannot be read (%2)").arg(where, file.errorString());
  }
  // Never more than the limit in memory, whatever the path names (a device, a huge file).
  const QByteArray bytes = file.read(kConfigFileLimit + 1);
  if (bytes.size() > kConfigFileLimit) {
    return QStringLiteral("%1: longer than %2 bytes; not a configuration file")
        .arg(where)
        .arg(kConfigFileLimit);
  }
  const QString folder = QFileInfo(path).absolutePath();
  QSet<QString> seen;
  int number = 0;
  for (const QByteArray& raw : bytes.split('\n')) {
    ++number;
    const auto fail = [&](const QString& what) {
      return QStringLiteral("%1:%2: %3").arg(where).arg(number).arg(what);
    };
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) return fail(QStringLiteral("\"key = value\" expected, not \"%1\"").arg(line));
    const QString key = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    if (key.isEmpty()) return fail(QStringLiteral("a key is missing before ="));
    if (seen.contains(key)) return fail(QStringLiteral("\"%1\" given twice").arg(key));
    seen.insert(key);
    if (key == "quiet" || key == "trace") {
      bool& flag = key == "quiet" ? options.quiet : options.trace;
      if (value == "yes" || value == "true") {
        flag = true;
      } else if (value == "no" || value == "false") {
        flag = false;
      } else {
        return fail(QStringLiteral("%1 takes yes or no, not \"%2\"").arg(key, value));
      }
      continue;
    }
    const QString name = "--" + key;
    if (!IsValueOption(name)) return fail(QStringLiteral("unknown key \"%1\"").arg(key));
    if (value.isEmpty()) return fail(QStringLiteral("%1 needs a value").arg(key));
    if (const std::optional<QString> error = ApplyOption(options, name, value)) {
      // The option's own words, naming the key as it is written here.
      return fail(QString(*error).replace(name, key));
    }
    if (key == "logs") options.logsFolder = QDir(folder).absoluteFilePath(value);
    if (key == "store") options.storeFrom = QStringLiteral("%1:%2").arg(where).arg(number);
  }
  return std::nullopt;
}

}  // namespace vorlan::collect
