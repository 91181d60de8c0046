#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

namespace vorlan {

// Widget-free models of the main window's controls. The program's handlers read and set these;
// a widget follows its model through the change signals (connected with the widget as context,
// so a destroyed widget disconnects itself) and sets the model whenever its own text changes.
// Without widgets (tests, a headless collector) the same handlers run unchanged.
class Control : public QObject {
  Q_OBJECT

 public:
  explicit Control(QString text = {}, bool enabled = true, QObject* parent = nullptr)
      : QObject(parent), m_text(std::move(text)), m_enabled(enabled) {}

  bool Enabled() const { return m_enabled; }
  void SetEnabled(bool enabled);
  const QString& Text() const { return m_text; }
  void SetText(const QString& text);
  // Check boxes: 0 unchecked, 1 checked. Setting a new value runs the click handler.
  int Value() const { return m_value; }
  void SetValue(int value);
  void Click() { emit Clicked(); }

 signals:
  // The text, the enabled state or the value changed.
  void Changed();
  // A check box's click: its value was set anew.
  void Clicked();

 private:
  QString m_text;
  bool m_enabled = true;
  int m_value = 0;
};

// An editable combo box: its text, and the list of items its arrow offers. Typing or choosing
// sets the text; only the program changes the list.
class ComboBox : public Control {
  Q_OBJECT

 public:
  using Control::Control;

  const QStringList& List() const { return m_list; }
  void SetList(const QStringList& items);
  void AddItem(const QString& item) { SetList(m_list + QStringList{item}); }

 signals:
  void ListChanged();

 private:
  QStringList m_list;
};

// A lamp: two shapes on top of each other, the "on" one or the "off" one in front.
class Lamp : public QObject {
  Q_OBJECT

 public:
  bool On() const { return m_on; }
  void BringOnToFront() { Set(true); }
  void BringOffToFront() { Set(false); }

 signals:
  void Changed();

 private:
  void Set(bool on);

  bool m_on = false;
};

// Panels 1 to 3 of the status bar, by index. The time-of-day panel belongs to the widget alone.
class StatusBarPanels : public QObject {
  Q_OBJECT

 public:
  const QString& Panel(int index) const { return m_panels.at(index - 1); }
  void SetPanel(int index, const QString& text);

 signals:
  void Changed(int index);

 private:
  std::array<QString, 3> m_panels;
};

}  // namespace vorlan
