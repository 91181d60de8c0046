#include "format/terminal.h"

#include <algorithm>

namespace vorlan {
namespace {

constexpr QChar kBackspace(8);
constexpr QChar kCr(13);
constexpr QChar kLf(10);

bool IsLineBreak(QChar c) { return c == kCr || c == kLf; }

}  // namespace

void TerminalText::SetText(const QString& text) { Replace(0, int(m_text.size()), text); }

void TerminalText::SetSelStart(int position) {
  m_selStart = std::clamp(position, 0, int(m_text.size()));
  m_selLength = 0;
}

void TerminalText::SetSelLength(int length) {
  m_selLength = std::clamp(length, 0, int(m_text.size()) - m_selStart);
}

void TerminalText::SetSelText(const QString& text) { Replace(m_selStart, m_selLength, text); }

void TerminalText::Replace(int position, int removed, const QString& inserted) {
  position = std::clamp(position, 0, int(m_text.size()));
  removed = std::clamp(removed, 0, int(m_text.size()) - position);
  const QString old = m_text.mid(position, removed);
  m_text.replace(position, removed, inserted);
  m_selStart = position + int(inserted.size());
  m_selLength = 0;
  emit Replaced(position, old, inserted);
}

void AppendToTerminal(TerminalText& view, QString text) {
  int length = int(view.Text().size());
  if (length > kTerminalLimit) {
    view.Replace(0, std::max(kTerminalTrim, length - kTerminalLimit), {});
    length = int(view.Text().size());
  }

  int erase = 0;  // characters at the end of the view that the text erases
  for (;;) {
    const qsizetype i = text.indexOf(kBackspace);  // 0-based: the text's position i + 1
    if (i < 0) break;
    if (i == 0) {
      // Erases the end of what the view shows: a line break counts as two characters. A view
      // too short for that loses what it has.
      const bool lineBreak = length > 0 && IsLineBreak(view.Text().back());
      erase = std::min(lineBreak ? 2 : 1, length);
      text.remove(0, 1);
    } else if (i == 1) {
      // Nothing stands two before it: the backspace takes the first character with it.
      text.remove(0, 2);
    } else if (IsLineBreak(text[i - 2])) {
      text.remove(i - 2, 3);
    } else {
      text.remove(i - 1, 2);
    }
  }

  for (;;) {
    const qsizetype i = text.indexOf(kCr);
    if (i < 0) break;
    if (i + 1 < text.size() && text[i + 1] == kLf) break;
    text.remove(i, 1);
  }

  // One long append (a record of tens of kilobytes) must not carry the view past its bound.
  if (text.size() > kTerminalMost) text.remove(0, text.size() - kTerminalMost);
  const int over = length - erase + int(text.size()) - kTerminalMost;
  if (over > 0) {
    view.Replace(0, over, {});
    length -= over;
  }
  view.SetSelStart(length - erase);
  view.SetSelLength(erase);
  view.SetSelText(text);
  view.SetSelStart(int(view.Text().size()));
}

}  // namespace vorlan
