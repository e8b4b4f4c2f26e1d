// The print set-up of the dialogs layer on Qt's printer object, both ways.
#pragma once

#include <QPrinter>

#include "platform/Dialogs.h"

namespace quelt {

void ApplyPrintSpec(const TPrintSpec& spec, QPrinter& printer);
TPrintSpec PrintSpecOf(const QPrinter& printer);

}  // namespace quelt
