// View > Name Encoding: how names and comments stored without the UTF-8 flag are read.
// "Detect" finds the set from each archive's names; a set the user picks is remembered for
// that archive in the settings.
#pragma once

class QAction;
class QMenu;

namespace quelt {

class TMainform;

// Fills the submenu: "Detect", then the sets on offer. Each item's data is the set's name,
// empty for Detect.
void BuildNameEncodingMenu(TMainform& form, QMenu* menu);
// Before the current archive's catalogue is read: gives the engine the choice remembered for
// that archive (Detect when there is none).
void ApplyNameEncodingChoice(TMainform& form);
// An item picked: remembered for the current archive, which is then listed again.
void NameEncodingCommand(TMainform& form, QAction* item);

}  // namespace quelt
