// Mail ZIP: the current archive handed to the desktop's mail program as an attachment.
#pragma once

#include "platform/MailMessage.h"
#include "platform/XdgMail.h"

namespace quelt {

class TMainform;

// File > "Mail ZIP...", with the window's own mail component.
void MailZipCommand(TMainform& form);

// Sends the current archive with `message` (the window's component, or the text editor's for
// its "Send..."). The user's cancel ends it silently; other failures are thrown for the error
// display.
void MailArchive(TMainform& form, TMailMessage& message);

// How the window waits for xdg-email: handling its events meanwhile.
TXdgMailConfig MailHandOver();

}  // namespace quelt
