#pragma once

#include <QString>
#include <QStringList>

namespace vorlan {

// Finding and starting other programs. Tests replace it so that nothing is started and the
// answers do not depend on the machine.
class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;

  // True when a file (not a folder) exists at exactly this path.
  virtual bool FileExists(const QString& path) const = 0;
  // The full path of a program found on the search path, or the empty text.
  virtual QString FindExecutable(const QString& name) const = 0;
  // Starts the program and does not wait for it; false when it could not be started.
  virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
};

class QtProgramLauncher final : public ProgramLauncher {
 public:
  bool FileExists(const QString& path) const override;
  QString FindExecutable(const QString& name) const override;
  bool StartDetached(const QString& program, const QStringList& arguments) override;
};

}  // namespace vorlan
