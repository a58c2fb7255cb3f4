#include "platform/desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace {

class SystemDesktop final : public Desktop {
 public:
  bool openUrl(const QString& address) override {
    return QDesktopServices::openUrl(QUrl::fromUserInput(address));
  }
  bool startDetached(const QString& program, const QStringList& arguments) override {
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
