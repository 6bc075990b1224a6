// The program entry: no arguments are read, the command line is ignored.

#include <QApplication>

#include "app/Main_Unit.h"
#include "platform/PlatformDependence_Unit.h"

int main(int /*argc*/, char* argv[]) {
  // Present while the program runs; a second copy starts and works as well.
  const sigilon::TNamedMutex mutex("Kestro_Sigilon");

  // Qt would read its own options from the command line; hand it none.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  sigilon::ApplyApplicationTitle();

  sigilon::TMain_Form mainForm;
  mainForm.show();
  return application.exec();
}
