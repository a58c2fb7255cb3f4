#include "online/serverbase.h"

#include "product/product.h"

QString makersite() {
  return QString::fromLatin1(product::makerurl);
}

QString serverbase(const QString& written, const QString& fallback) {
  const QLatin1String scheme("http://");
  if (!written.startsWith(scheme, Qt::CaseInsensitive) || written.size() <= scheme.size())
    return fallback;
  return written.endsWith(QLatin1Char('/')) ? written : written + QLatin1Char('/');
}
