// Saves a picture of the calculator window as a fresh start shows it; run by
// screenshot.sh under a virtual X server for the README.
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "calculator/tarvel_unit.h"

int main(int argc, char **argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarvel_screenshot OUTPUT.png\n");
    return 2;
  }
  TFrmTarvel form;
  FrmTarvel = &form;
  form.show();
  int status = 0;
  // Grab once the server has painted the window, then close it as the user would.
  QTimer::singleShot(500, &form, [&] {
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
      std::fprintf(stderr, "tarvel_screenshot: cannot write %s\n", argv[1]);
      status = 1;
    }
    form.Btn1Close->click();
  });
  application.exec();
  return status;
}
