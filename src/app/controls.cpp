#include "app/controls.h"

namespace vorlan {

void Control::SetEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  emit Changed();
}

void Control::SetText(const QString& text) {
  if (text == m_text) return;
  m_text = text;
  emit Changed();
}

void Control::SetValue(int value) {
  if (value == m_value) return;
  m_value = value;
  emit Changed();
  Click();
}

void ComboBox::SetList(const QStringList& items) {
  if (items == m_list) return;
  m_list = items;
  emit ListChanged();
}

void Lamp::Set(bool on) {
  if (on == m_on) return;
  m_on = on;
  emit Changed();
}

void StatusBarPanels::SetPanel(int index, const QString& text) {
  QString& panel = m_panels.at(index - 1);
  if (panel == text) return;
  panel = text;
  emit Changed(index);
}

}  // namespace vorlan
