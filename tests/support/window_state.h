#pragma once

#include <map>
#include <string>

#include "app/form_main.h"
#include "platform/socket.h"

namespace vorlan {

// The elements of the main window that the link handlers set, as one comparable snapshot.
inline std::map<std::string, std::string> WindowState(FormMain& form) {
  const auto on = [](bool b) { return std::string(b ? "enabled" : "disabled"); };
  return {
      {"txtHost", on(form.txtHost.Enabled())},
      {"CmdConnect", on(form.CmdConnect.Enabled())},
      {"CmdDisconnect", on(form.CmdDisconnect.Enabled())},
      {"CmdDnld", on(form.CmdDnld.Enabled())},
      {"CmdStop", on(form.CmdStop.Enabled())},
      {"cmdquit", on(form.cmdquit.Enabled())},
      {"cbDeviceID", on(form.cbDeviceID.Enabled())},
      {"lamp", form.LinkLamp.On() ? "Connected" : "NotConnected"},
      {"panel1", form.StatusBar.Panel(1).toStdString()},
      {"panel2", form.StatusBar.Panel(2).toStdString()},
  };
}

// The snapshot with some elements changed.
inline std::map<std::string, std::string> With(
    std::map<std::string, std::string> state,
    std::initializer_list<std::pair<const std::string, std::string>> changes) {
  for (const auto& [key, value] : changes) state[key] = value;
  return state;
}

}  // namespace vorlan
