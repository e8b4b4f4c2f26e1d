// The window tests run on Qt's offscreen platform, one QApplication for the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Dates and times appear in the locale's formats; a fixed locale makes them known.
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
