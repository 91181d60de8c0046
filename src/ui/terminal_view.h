#pragma once

#include <QPlainTextEdit>

namespace vorlan {

class TerminalText;

// A read-only text box that mirrors a TerminalText, in a fixed-pitch font.
class TerminalView : public QPlainTextEdit {
 public:
  TerminalView(TerminalText& text, QWidget* parent);

 private:
  void Apply(int position, int removed, const QString& inserted);

  TerminalText& m_text;
};

}  // namespace vorlan
