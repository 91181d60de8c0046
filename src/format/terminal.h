#pragma once

#include <QObject>
#include <QString>

namespace vorlan {

// A multi-line text box as the program uses it: the whole text, a caret (SelStart) with an
// optional selection (SelLength), and SelText to replace the selection. Every change is
// signalled as one replacement, so a widget can mirror a long text without copying it.
class TerminalText : public QObject {
  Q_OBJECT

 public:
  const QString& Text() const { return m_text; }
  void SetText(const QString& text);
  int SelStart() const { return m_selStart; }
  void SetSelStart(int position);  // clamped to the text; empties the selection
  int SelLength() const { return m_selLength; }
  void SetSelLength(int length);  // clamped to what follows the caret
  void SetSelText(const QString& text);
  // Replaces `removed` characters at `position` by `inserted`, caret after the insertion.
  void Replace(int position, int removed, const QString& inserted);

 signals:
  // `removed` is the text that stood at `position` before; Text() already holds `inserted`.
  void Replaced(int position, const QString& removed, const QString& inserted);

 private:
  QString m_text;
  int m_selStart = 0;
  int m_selLength = 0;
};

// The RAW Data view keeps its text bounded: beyond this many characters an append first drops
// the oldest kTerminalTrim of them (more when more are over).
inline constexpr int kTerminalLimit = 16000;
inline constexpr int kTerminalTrim = 4096;
// Whatever the length of one append, the text never holds more: the oldest characters go
// first, those of the append itself too when it alone is longer.
inline constexpr int kTerminalMost = kTerminalLimit + kTerminalTrim;

// Appends text the way a terminal would: keeps the view bounded, honours backspaces (a leading
// one erases the end of what the view shows) and drops carriage returns that stand alone before
// the first CR LF. `text` is consumed.
void AppendToTerminal(TerminalText& view, QString text);

}  // namespace vorlan
