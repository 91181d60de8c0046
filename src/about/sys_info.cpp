#include "about/sys_info.h"

#include "about/about_texts.h"
#include "about/program_launcher.h"
#include "about/registry.h"
#include "platform/dialogs.h"

namespace vorlan {

namespace {

const QString kPathKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kPathValue = QStringLiteral("PATH");
const QString kFolderKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kFolderValue = QStringLiteral("MSINFO");
const QString kProgramFile = QStringLiteral("\\MSINFO32.EXE");

bool StartFallback(ProgramLauncher& launcher, const QList<SysInfoCandidate>& candidates) {
  for (const SysInfoCandidate& candidate : candidates) {
    const QString path = launcher.FindExecutable(candidate.program);
    if (!path.isEmpty() && launcher.StartDetached(path, candidate.arguments)) return true;
  }
  return false;
}

}  // namespace

QList<SysInfoCandidate> DefaultSysInfoCandidates() {
#if defined(Q_OS_WIN)
  return {{QStringLiteral("msinfo32"), {}}};
#elif defined(Q_OS_MACOS)
  return {{QStringLiteral("open"), {QStringLiteral("-a"), QStringLiteral("System Information")}}};
#else
  return {{QStringLiteral("hardinfo2"), {}},
          {QStringLiteral("hardinfo"), {}},
          {QStringLiteral("kinfocenter"), {}},
          {QStringLiteral("gnome-system-monitor"), {}}};
#endif
}

void StartSysInfo(Registry& registry, ProgramLauncher& launcher, Dialogs& dialogs,
                  const QList<SysInfoCandidate>& fallback) {
  QString sysInfoPath;
  bool started = false;
  if (registry.GetKeyValue(kLocalMachineRoot, kPathKey, kPathValue, sysInfoPath)) {
    // The first place names the program itself; it is started without a file test.
    started = launcher.StartDetached(sysInfoPath, {});
  } else if (registry.GetKeyValue(kLocalMachineRoot, kFolderKey, kFolderValue, sysInfoPath)) {
    sysInfoPath += kProgramFile;
    started = launcher.FileExists(sysInfoPath) && launcher.StartDetached(sysInfoPath, {});
  } else {
    started = StartFallback(launcher, fallback);
  }
  if (!started) {
    dialogs.MessageBox(about::kSysInfoUnavailable, Dialogs::Icon::None, about::kAppTitle);
  }
}

}  // namespace vorlan
