#pragma once

// Which server the program talks to. The maker's site serves scores and updates unless the
// settings file names other servers (for tests and self-hosters); both follow one rule.

#include <QString>

// The maker's site: "http://" and its host, ending in "/".
QString makersite();

// A server's base address as the settings file writes it: an "http://" address with more than the
// scheme, with the closing "/" the paths are appended to added when it was left off. Anything else
// (nothing written, another scheme, the bare scheme) gives fallback.
QString serverbase(const QString& written, const QString& fallback = makersite());
