#include "ui/terminal_view.h"

#include <QFontDatabase>
#include <QTimer>

#include <algorithm>

#include "format/terminal.h"

namespace vorlan {
namespace {

constexpr QChar kCr(13);
constexpr QChar kLf(10);

// The model keeps CR LF as two characters; the document wants one line break.
QString Shown(QString text) {
  return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(kCr, kLf);
}

}  // namespace

TerminalView::TerminalView(TerminalText& text, QWidget* parent)
    : QPlainTextEdit(parent), m_text(text) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setUndoRedoEnabled(false);
  QFont font(QStringLiteral("Terminal"));
  font.setStyleHint(QFont::TypeWriter);
  if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // Hexadecimal and single-byte record text, left to right: laying a line out need not shape it
  // nor look for right-to-left characters, which would be most of the cost of an append.
  font.setStyleStrategy(QFont::PreferNoShaping);
  setFont(font);
  QTextOption option = document()->defaultTextOption();
  option.setTextDirection(Qt::LeftToRight);
  document()->setDefaultTextOption(option);
  m_redraw = true;
  Follow();
  connect(&m_text, &TerminalText::Replaced, this, &TerminalView::Replaced);
}

void TerminalView::Replaced(int position, const QString& removed, const QString& inserted) {
  const QString& text = m_text.Text();
  const qsizetype before = text.size() - inserted.size() + removed.size();
  if (m_paused) {
    CountWhilePaused(position, removed, inserted);
    m_redraw = true;
    return;
  }
  if (m_redraw) {
    // Already redrawing: nothing to work out.
  } else if (removed.isEmpty() && position == before) {
    // An append. A CR at the old end that now pairs with an LF is shown as one break already.
    const bool joinsPair = position > 0 && text[position - 1] == kCr && inserted.startsWith(kLf);
    m_append += Shown(joinsPair ? inserted.mid(1) : inserted);
  } else if (position == 0 && inserted.isEmpty() && removed.size() <= m_modelShown) {
    // The trim of the oldest text, from what the document already shows. A CR LF pair cut in
    // two keeps its LF, which stands where the pair's one break stood.
    const bool cutsPair = removed.endsWith(kCr) && text.startsWith(kLf);
    m_dropFront += int(Shown(removed).size()) - (cutsPair ? 1 : 0);
    m_modelShown -= removed.size();
  } else {
    // A backspace that erased the end, clearing, a text set whole: rare, redrawn whole.
    m_redraw = true;
  }
  if (!m_scheduled) {
    m_scheduled = true;
    QTimer::singleShot(0, this, &TerminalView::Follow);
  }
}

void TerminalView::CountWhilePaused(int position, const QString& removed, const QString& inserted) {
  // What is removed from the text that came during the pause was never shown.
  const qsizetype pausedAt = std::max<qsizetype>(0, m_pausedFrom - position);
  if (pausedAt < removed.size()) m_leftOutLines += removed.mid(pausedAt).count(kLf);
  if (position < m_pausedFrom)
    m_pausedFrom = position + std::max<qsizetype>(0, m_pausedFrom - position - removed.size());
  m_heldLines += inserted.count(kLf);
}

void TerminalView::SetPaused(bool paused) {
  if (paused == m_paused) return;
  m_paused = paused;
  if (paused) {
    m_pausedFrom = m_text.Text().size();
    m_heldLines = 0;
    m_leftOutLines = 0;
    return;
  }
  Follow();
}

void TerminalView::Follow() {
  if (m_paused) return;
  m_scheduled = false;
  if (m_redraw) {
    setPlainText(Shown(m_text.Text()));
  } else {
    if (m_dropFront > 0) {
      QTextCursor cursor(document());
      // By position: moving the cursor character by character would lay each line out.
      cursor.setPosition(m_dropFront, QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
    }
    if (!m_append.isEmpty()) {
      QTextCursor cursor(document());
      cursor.movePosition(QTextCursor::End);
      cursor.insertText(m_append);
    }
  }
  m_redraw = false;
  m_dropFront = 0;
  m_append.clear();
  m_modelShown = m_text.Text().size();
  moveCursor(QTextCursor::End);
}

}  // namespace vorlan
