#include "platform/desktop.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

class SystemDesktop final : public Desktop {
 public:
  // The desktop's opener gets the address as one argument, exactly the text it was given: a
  // parse on the way (QUrl) would rewrite it, turning a doubled scheme into another host, a
  // relative link into a web address and a path into a file: address.
  bool openurl(const QString& address) override {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return false;
    return QProcess::startDetached(opener, {address});
  }
  bool startdetached(const QString& program, const QStringList& arguments) override {
    return QProcess::startDetached(program, arguments);
  }
};

Desktop* installed = nullptr;

}  // namespace

Desktop& desktop() {
  static SystemDesktop system;
  return installed ? *installed : system;
}

void setdesktop(Desktop* replacement) {
  installed = replacement;
}
