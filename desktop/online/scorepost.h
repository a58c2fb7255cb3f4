#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

// Addresses of the score server. base is its "http://" base address ending in "/".

// The page listing the best scores.
QString listaddress(const QString& base);

// The address that posts one score. The three values are percent-encoded, so a name with a blank
// keeps the request line intact and a name such as "x&score=800" cannot add a field of its own.
QString postaddress(const QString& base, const QString& name, const QString& date,
                    const QString& score);

// A date as the score server stores it: "m/d/yy", month and day without leading zeros and a
// two-digit year, with the locale's date separator in place of each "/".
QString postdatetext(const QDate& date, const QLocale& locale);

// The separator between the parts of the locale's short date format; "/" when it has none.
QChar dateseparator(const QLocale& locale);
