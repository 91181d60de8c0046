#pragma once

#include <QString>

#include <array>
#include <functional>
#include <vector>

namespace vorlan {

// Widget-free models of the main window's controls. The program's handlers read and set these;
// the widgets only mirror them and forward what the operator does. Without widgets (tests, a
// headless collector) the same handlers run unchanged.
class Control {
 public:
  explicit Control(QString text = {}, bool enabled = true)
      : m_text(std::move(text)), m_enabled(enabled) {}

  bool Enabled() const { return m_enabled; }
  void SetEnabled(bool enabled);
  const QString& Text() const { return m_text; }
  void SetText(const QString& text);
  // Check boxes: 0 unchecked, 1 checked. Setting a new value runs the click handler.
  int Value() const { return m_value; }
  void SetValue(int value);

  // Observers: the widget that mirrors the control, and the handler of a check box's click.
  void OnChanged(std::function<void()> observer) { m_observers.push_back(std::move(observer)); }
  void OnClick(std::function<void()> handler) { m_click = std::move(handler); }
  void Click() const;

 private:
  void Notify() const;

  QString m_text;
  bool m_enabled = true;
  int m_value = 0;
  std::vector<std::function<void()>> m_observers;
  std::function<void()> m_click;
};

// A lamp: two shapes on top of each other, the "on" one or the "off" one in front.
class Lamp {
 public:
  bool On() const { return m_on; }
  void BringOnToFront() { Set(true); }
  void BringOffToFront() { Set(false); }
  void OnChanged(std::function<void()> observer) { m_observers.push_back(std::move(observer)); }

 private:
  void Set(bool on);

  bool m_on = false;
  std::vector<std::function<void()>> m_observers;
};

// Panels 1 to 3 of the status bar, by index. The time-of-day panel belongs to the widget alone.
class StatusBarPanels {
 public:
  const QString& Panel(int index) const { return m_panels.at(index - 1); }
  void SetPanel(int index, const QString& text);
  void OnChanged(std::function<void(int)> observer) { m_observers.push_back(std::move(observer)); }

 private:
  std::array<QString, 3> m_panels;
  std::vector<std::function<void(int)>> m_observers;
};

}  // namespace vorlan
