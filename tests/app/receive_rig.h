#pragma once

#include <QFile>

#include "hex.h"
#include "support/form_fixture.h"
#include "support/session_watch.h"

namespace vorlan {

using namespace std::chrono_literals;

// SYN, "2" and seven characters: a data reply's header without its block character.
inline const QByteArray kHeader = QByteArray("\x16" "2" "000010" "1");

class ReceiveRig : public FormRig {
 public:
  using FormRig::FormRig;
  // Connected with device ID 1, the download running and its first data request sent; the
  // RAW Data view emptied and what was sent forgotten.
  void StartDownload() {
    LoadAndConnect("1");
    m_form.CmdDnld_Click();
    m_platform.RunFor(150ms);
    ASSERT_EQ(Hex(Peer().TakeSent()), "16 31 30 30 30 30 32 30 31 FD");
    m_form.CmdCls_Click();
  }
  // Connect pressed again after the link was lost, and DownLoad.
  void Reconnect() {
    m_form.CmdConnect_Click();
    Peer().PeerAccept();
    m_platform.RunFor(1ms);
    m_form.CmdDnld_Click();
    m_platform.RunFor(200ms);
  }
  // The exchange sends `bytes` once `delay` has passed, whatever the tool is doing then.
  void SendAt(std::chrono::milliseconds delay, const QByteArray& bytes) {
    m_platform.At(delay, [this, bytes] { Peer().PeerSend(bytes); });
  }
  // Until what it brings is done: its pace, and an acknowledgement's.
  void Arrive(const QByteArray& bytes) { m_watch.Arrive(Peer(), bytes); }
  QByteArray Log() const {
    QFile file(LogsPath() + "/03051437.log");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no log file>");
  }
  std::string Raw() { return m_form.txtout().Text().toStdString(); }

  SessionWatch m_watch{m_form.Session(), m_platform};
};

}  // namespace vorlan
