#include "ui/terminal_view.h"

#include <QFontDatabase>

#include "format/terminal.h"

namespace vorlan {
namespace {

// The model keeps CR LF as two characters; the document wants one line break.
QString Shown(QString text) {
  return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QChar('\r'), QChar('\n'));
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
  setFont(font);
  setPlainText(Shown(m_text.Text()));
  m_text.OnChanged([this](int position, int removed, const QString& inserted) {
    Apply(position, removed, inserted);
  });
}

void TerminalView::Apply(int position, int removed, const QString& inserted) {
  const bool append = removed == 0 && position == m_text.Text().size() - inserted.size();
  if (append) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(Shown(inserted));
  } else {
    // The trim, a backspace that erased the end, or clearing: rare enough to redraw whole.
    setPlainText(Shown(m_text.Text()));
  }
  moveCursor(QTextCursor::End);
}

}  // namespace vorlan
