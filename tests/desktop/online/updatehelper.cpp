// A stand-in program for the tests whose outcome is the end of a process:
//   updatehelper quit <url>
//     starts a download that never ends and quits the application meanwhile; prints the code
//     and text of what Get() raised.
//   updatehelper update <programfile> <baseurl> <site> <savemark> <publickey in hex> <version>
//     runs the whole update of 1.0.0 to the published <version> as the main window would: asks
//     for its manifest, then downloads and starts it, trusting the given key; the save hook
//     writes <savemark> (and with a last argument "killinsave" the process is killed there, as
//     while it saves the settings and the tally). When the installer starts, the process ends there
//     with exit code 0; any other ending is code 3.
#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "online/httpprot.h"
#include "online/updatecheck.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 3 && args[1] == QLatin1String("quit")) {
    THttpCli client;
    client.setRequestUrl(args[2]);
    QTimer::singleShot(0, [&] {
      QTimer::singleShot(200, &app, &QCoreApplication::quit);
      try {
        client.Get();
        std::printf("returned\n");
      } catch (const EHttpException& e) {
        std::printf("%d %s\n", e.code(), e.message().toUtf8().constData());
      }
    });
    return app.exec();
  }
  if ((args.size() == 8 || args.size() == 9) && args[1] == QLatin1String("update")) {
    const bool killinsave = args.size() == 9 && args[8] == QLatin1String("killinsave");
    Tupdater updater(args[2], args[3], args[4]);
    updater.setpublickey(QByteArray::fromHex(args[6].toLatin1()));
    const QString savemark = args[5];
    updater.setsavehook([savemark, killinsave] {
      QFile mark(savemark);
      if (mark.open(QIODevice::WriteOnly)) mark.write("saved\n");
      mark.close();
      if (killinsave) ::raise(SIGKILL);
    });
    updater.setmessagehook(
        [](const QString& text) { std::printf("message: %s\n", text.toUtf8().constData()); });
    if (!updater.askrelease(args[7].toLatin1(), QStringLiteral("1.0.0"))) {
      std::printf("no release vouched for\n");
      return 4;
    }
    updater.update();
    std::printf("status: %s\n", updater.status().toUtf8().constData());
    return 3;
  }
  std::fprintf(
      stderr,
      "usage: updatehelper quit <url> | update <program> <base> <site> <mark> <key> <version>\n");
  return 2;
}
