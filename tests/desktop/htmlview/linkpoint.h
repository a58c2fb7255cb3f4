#pragma once

#include <QPoint>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

// Helpers to find a link's text in a view, so tests can click and hover it as a player would.

// The first fragment of the link whose visible text is text; invalid when there is none.
inline QTextFragment linkfragment(const QTextBrowser& view, const QString& text) {
  for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next())
    for (auto it = block.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isAnchor() && it.fragment().text() == text)
        return it.fragment();
  return {};
}

// A point in viewport coordinates inside the first character of the link's text, or (-1, -1).
inline QPoint linkpoint(const QTextBrowser& view, const QString& text) {
  const QTextFragment fragment = linkfragment(view, text);
  if (!fragment.isValid()) return {-1, -1};
  QTextCursor before(view.document());
  before.setPosition(fragment.position());
  QTextCursor after(view.document());
  after.setPosition(fragment.position() + 1);
  const QRect left = view.cursorRect(before);
  const QRect right = view.cursorRect(after);
  return {(left.x() + right.x()) / 2, left.center().y()};
}

// The colour the link's text is drawn in now.
inline QColor linkcolour(const QTextBrowser& view, const QString& text) {
  const QTextFragment fragment = linkfragment(view, text);
  return fragment.isValid() ? fragment.charFormat().foreground().color() : QColor();
}
