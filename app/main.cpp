// The program entry: apart from --version, the command line is ignored.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "SigilonVersion.h"
#include "app/MainWindow.h"
#include "platform/Platform.h"

int main(int argc, char* argv[]) {
  // Answered before anything of the window system starts, so it works
  // without a display too.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("sigilon %s\n", SIGILON_VERSION);
      return 0;
    }
  }

  // Present while the program runs; a second copy starts and works as well.
  const sigilon::TNamedMutex mutex("Kestro_Sigilon");

  // Qt would read its own options from the command line; hand it none.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  // Lets the desktop match the window to its menu entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("sigilon"));
  sigilon::ApplyApplicationTitle();

  sigilon::TMain_Form mainForm;
  mainForm.show();
  return application.exec();
}
