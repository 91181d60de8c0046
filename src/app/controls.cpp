#include "app/controls.h"

namespace vorlan {

void Control::SetEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  Notify();
}

void Control::SetText(const QString& text) {
  if (text == m_text) return;
  m_text = text;
  Notify();
}

void Control::SetValue(int value) {
  if (value == m_value) return;
  m_value = value;
  Notify();
  Click();
}

void Control::Click() const {
  if (m_click) m_click();
}

void Control::Notify() const {
  for (const auto& observer : m_observers) observer();
}

void Lamp::Set(bool on) {
  if (on == m_on) return;
  m_on = on;
  for (const auto& observer : m_observers) observer();
}

void StatusBarPanels::SetPanel(int index, const QString& text) {
  QString& panel = m_panels.at(index - 1);
  if (panel == text) return;
  panel = text;
  for (const auto& observer : m_observers) observer(index);
}

}  // namespace vorlan
