#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace vorlan {

// A multi-line text box as the program uses it: the whole text, a caret (SelStart) with an
// optional selection (SelLength), and SelText to replace the selection. Observers see every
// change as one replacement, so a widget can mirror a long text without copying it each time.
class TerminalText {
 public:
  using Observer = std::function<void(int position, int removed, const QString& inserted)>;

  const QString& Text() const { return m_text; }
  void SetText(const QString& text);
  int SelStart() const { return m_selStart; }
  void SetSelStart(int position);  // clamped to the text; empties the selection
  int SelLength() const { return m_selLength; }
  void SetSelLength(int length);  // clamped to what follows the caret
  void SetSelText(const QString& text);
  // Replaces `removed` characters at `position` by `inserted`, caret after the insertion.
  void Replace(int position, int removed, const QString& inserted);

  void OnChanged(Observer observer) { m_observers.push_back(std::move(observer)); }

 private:
  QString m_text;
  int m_selStart = 0;
  int m_selLength = 0;
  std::vector<Observer> m_observers;
};

// The RAW Data view keeps its text bounded: beyond this many characters an append first drops
// the oldest kTerminalTrim of them.
inline constexpr int kTerminalLimit = 16000;
inline constexpr int kTerminalTrim = 4096;

// Appends text the way a terminal would: keeps the view bounded, honours backspaces (a leading
// one erases the end of what the view shows) and drops carriage returns that stand alone before
// the first CR LF. `text` is consumed.
void AppendToTerminal(TerminalText& view, QString text);

}  // namespace vorlan
