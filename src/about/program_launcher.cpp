#include "about/program_launcher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace vorlan {

bool QtProgramLauncher::FileExists(const QString& path) const { return QFileInfo(path).isFile(); }

QString QtProgramLauncher::FindExecutable(const QString& name) const {
  return QStandardPaths::findExecutable(name);
}

bool QtProgramLauncher::StartDetached(const QString& program, const QStringList& arguments) {
  // An empty path would make QProcess complain on the console; it cannot start anything anyway.
  if (program.isEmpty()) return false;
  return QProcess::startDetached(program, arguments);
}

}  // namespace vorlan
