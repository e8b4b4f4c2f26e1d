#include "app/commands/MailCommand.h"

#include <QCoreApplication>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/mainunit.h"

namespace quelt {

void MailZipCommand(TMainform& form) {
  MailArchive(form, form.MailMessage1());
}

void MailArchive(TMainform& form, TMailMessage& message) {
  TWaitCursor wait;
  message.Attachments = {PathFromQt(form.CurrentArchive())};
  try {
    // While the mail program takes the message the window stays live, but starts nothing.
    form.RunEngine([&] {
      message.Send();
      return 0;
    });
  } catch (const EMapiUserAbort&) {
    // The user cancelled: nothing to say.
  }
}

TXdgMailConfig MailHandOver() {
  TXdgMailConfig config;
  config.keepWaiting = [] {
    QCoreApplication::processEvents();
    return true;
  };
  return config;
}

}  // namespace quelt
