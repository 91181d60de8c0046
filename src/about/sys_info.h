#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vorlan {

class Dialogs;
class ProgramLauncher;
class Registry;

// A system information program to look for on the search path when the registry does not name
// one.
struct SysInfoCandidate {
  QString program;
  QStringList arguments;
};

// This platform's candidates, tried in order: msinfo32 on Windows; "open -a System Information"
// on macOS; elsewhere hardinfo2, hardinfo, kinfocenter, gnome-system-monitor.
QList<SysInfoCandidate> DefaultSysInfoCandidates();

// Starts the system information program named in the registry. Only when neither registry place
// exists is the first candidate found on the search path that starts taken instead. When nothing
// is started the operator is told so in a message box.
void StartSysInfo(Registry& registry, ProgramLauncher& launcher, Dialogs& dialogs,
                  const QList<SysInfoCandidate>& fallback = DefaultSysInfoCandidates());

}  // namespace vorlan
