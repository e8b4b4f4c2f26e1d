// quelt: the archive window. Arguments name an archive to open at start-up.
#include <QApplication>

#include "app/QtDialogs.h"
#include "app/mainunit.h"
#include "platform/SettingsStore.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quelt");
  QApplication::setOrganizationName("Dunmarra");

  quelt::TSettingsStore settings(quelt::TSettingsStore::DefaultPath());
  quelt::TQtDialogs dialogs;
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  quelt::TMainform form(settings, dialogs, arguments);
  dialogs.SetOwner(&form);
  form.show();
  return QApplication::exec();
}
