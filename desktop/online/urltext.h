#pragma once

#include <QByteArray>

// Blanks, control characters and bytes beyond ASCII, percent-escaped: in a request line they
// would split it or let the text of an address or a server's Location smuggle in headers of its
// own. Every other byte, '%' included, travels as it is, so an address escaped already keeps its
// escapes.
QByteArray escapeunsafe(const QByteArray& bytes);
