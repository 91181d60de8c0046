#pragma once

#include <QPlainTextEdit>

namespace vorlan {

class TerminalText;

// A read-only text box that mirrors a TerminalText, in a fixed-pitch font. It follows its model
// once per turn of the event loop, not on every change: laying the document out is most of the
// cost of an append, and a data reply appends several lines at once.
class TerminalView : public QPlainTextEdit {
 public:
  TerminalView(TerminalText& text, QWidget* parent);

  // Brings the document up to date with the model now (not while paused).
  void Follow();

  // While paused the document holds still for scrolling, selecting and copying; the model goes
  // on, and the document catches up with it when the pause ends.
  void SetPaused(bool paused);
  bool Paused() const { return m_paused; }
  // Lines that came while paused, and those of them the model's trim dropped before they could
  // be shown.
  qsizetype HeldLines() const { return m_heldLines; }
  qsizetype LeftOutLines() const { return m_leftOutLines; }

 private:
  void CountWhilePaused(int position, const QString& removed, const QString& inserted);

  void Replaced(int position, const QString& removed, const QString& inserted);

  TerminalText& m_text;
  bool m_scheduled = false;
  // What the document lacks, if it can be caught up piecemeal: characters to drop from its
  // front, and text to add at its end. Anything else redraws the whole text.
  bool m_redraw = false;
  int m_dropFront = 0;
  QString m_append;
  // Characters of the model that the document holds (without m_append, after m_dropFront).
  qsizetype m_modelShown = 0;
  bool m_paused = false;
  // Where the text that came during the pause starts in the model.
  qsizetype m_pausedFrom = 0;
  qsizetype m_heldLines = 0;
  qsizetype m_leftOutLines = 0;
};

}  // namespace vorlan
