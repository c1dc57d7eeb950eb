// The program start: the application object, the one window, the event loop.
#include <QApplication>

#include "calculator/tarvel_unit.h"

int main(int argc, char **argv) {
  QApplication application(argc, argv);
  TFrmTarvel form;
  FrmTarvel = &form;
  form.show();
  application.exec();
  return 0;  // closing the window, by any means, is the program's normal end
}
