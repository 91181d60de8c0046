#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "about/program_launcher.h"
#include "platform/dialogs.h"

namespace vorlan::test {

struct RecordedMessage {
  QString text;
  Dialogs::Icon icon;
  QString title;
};

class RecordingDialogs final : public Dialogs {
 public:
  void MessageBox(const QString& text, Icon icon, const QString& title) override {
    messages.append({text, icon, title});
  }
  QString OpenFile(const OpenFileRequest&) override { return {}; }

  QList<RecordedMessage> messages;
};

// A machine made up by the test: which files exist, what the search path holds, which programs
// start. Every question and every start is recorded.
class FakeLauncher final : public ProgramLauncher {
 public:
  struct Start {
    QString program;
    QStringList arguments;
  };

  bool FileExists(const QString& path) const override {
    fileTests.append(path);
    return files.contains(path);
  }
  QString FindExecutable(const QString& name) const override { return onPath.value(name); }
  bool StartDetached(const QString& program, const QStringList& arguments) override {
    starts.append({program, arguments});
    return !unstartable.contains(program);
  }

  QSet<QString> files;
  QHash<QString, QString> onPath;  // name -> full path
  QSet<QString> unstartable;
  mutable QStringList fileTests;
  QList<Start> starts;
};

}  // namespace vorlan::test
