#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/dialogs.h"
#include "app/form_main.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "platform/timer.h"
#include "support/virtual_platform.h"

namespace vorlan {

// Writes down every modal dialog instead of showing it.
class RecordingDialogs : public Dialogs {
 public:
  struct Box {
    QString text;
    Icon icon;
    QString title;
  };
  void MessageBox(const QString& text, Icon icon, const QString& title) override {
    boxes.push_back({text, icon, title});
  }
  QString OpenFile(const OpenFileRequest& request) override {
    fileRequests.push_back(request);
    return nextFile;
  }
  QStringList OpenFiles(const OpenFileRequest& request) override {
    fileRequests.push_back(request);
    return nextFiles;
  }
  QString SaveFile(const OpenFileRequest& request) override {
    saveRequests.push_back(request);
    return nextSave;
  }
  // A progress box that records its updates and cancels at the update numbered `cancelAt`.
  class RecordingProgress : public Progress {
   public:
    explicit RecordingProgress(RecordingDialogs& owner) : m_owner(owner) {}
    bool Update(qint64 done, qint64 total) override {
      m_owner.progress.push_back({done, total});
      return qsizetype(m_owner.progress.size()) != m_owner.cancelAt;
    }

   private:
    RecordingDialogs& m_owner;
  };
  std::unique_ptr<Progress> ShowProgress(const QString& title, const QString&) override {
    progressTitles << title;
    return std::make_unique<RecordingProgress>(*this);
  }
  std::vector<Box> boxes;
  std::vector<OpenFileRequest> fileRequests;
  std::vector<OpenFileRequest> saveRequests;
  QString nextFile;
  QStringList nextFiles;
  QString nextSave;
  QStringList progressTitles;
  std::vector<std::pair<qint64, qint64>> progress;
  qsizetype cancelAt = 0;  // 0: never
};

// The main window in virtual time, with a program folder of its own (and its logs folder), a
// settings file of its own, recorded dialogs, and the exchange played by the test.
class FormRig {
 public:
  explicit FormRig(QDateTime start = QDateTime(QDate(2026, 3, 5), QTime(14, 37, 20)))
      : m_platform(start) {
    QDir(m_dir.path()).mkdir("logs");
    // Every test of the window fails on an event loop nested in a handler of the session.
    m_platform.ForbidPumpWhile([this] { return m_form.Session().InHandler(); });
  }
  ~FormRig() {
    EXPECT_EQ(m_platform.NestedPumps(), 0) << "an event loop ran inside a handler of the session";
  }

  VirtualSocket& Peer() { return *m_platform.SocketAt(0); }
  // Runs a command from the event loop, as a click would, then the steps its timer carries on,
  // until its work is done.
  void RunFileCommand(const std::function<void()>& command) {
    m_platform.Post(&m_form, command);
    EXPECT_TRUE(m_platform.WaitUntil([this] { return !m_form.FileWorkRunning(); },
                                     std::chrono::hours(1)));
  }
  QString LogsPath() const { return m_dir.filePath("logs"); }
  QString Setting(const QString& section, const QString& key) const {
    return m_settings.GetSetting("VORLAN", section, key, "<absent>");
  }

  // Form_Load, then Connect pressed and the exchange accepting.
  void LoadAndConnect(const QString& deviceId = "1") {
    m_form.Form_Load();
    m_form.cbDeviceID.SetText(deviceId);
    m_form.txtHost.SetText("127.0.0.1");
    m_form.CmdConnect_Click();
    Peer().PeerAccept();
    m_platform.RunFor(std::chrono::milliseconds(1));
    ASSERT_EQ(m_form.StatusBar.Panel(1), "  Connected to PBX...  ");
  }

  QTemporaryDir m_dir;
  VirtualPlatform m_platform;
  SettingsStore m_settings{m_dir.filePath("config/VORLAN.ini")};
  RecordingDialogs m_dialogs;
  FormMain m_form{{m_platform, m_settings, m_dialogs, m_dir.path()}};
};

class FormTest : public ::testing::Test, public FormRig {};

}  // namespace vorlan
