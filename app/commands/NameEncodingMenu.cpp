#include "app/commands/NameEncodingMenu.h"

#include <QActionGroup>
#include <QFileInfo>
#include <QMenu>

#include "app/QtText.h"
#include "app/mainunit.h"
#include "engine/NameEncoding.h"

namespace quelt {

namespace {

// One value per archive: its full path names the value, the chosen set is the text.
const char* const kChoicesKey = "SOFTWARE\\Dunmarra\\Quelt\\NameEncoding";

QMenu* encodingMenu(const TMainform& form) {
  return form.findChild<QMenu*>("NameEncoding1");
}

std::string archiveKey(const TMainform& form) {
  return PathFromQt(QFileInfo(form.CurrentArchive()).absoluteFilePath());
}

// The remembered set of the current archive, or "" for Detect; one the store holds but this
// system cannot read in counts as Detect.
std::string rememberedChoice(TMainform& form) {
  if (form.CurrentArchive().isEmpty()) return "";
  TRegistry reg(form.Settings(), LOCAL_MACHINE);
  if (!reg.OpenKeyReadOnly(kChoicesKey)) return "";
  const std::string name = archiveKey(form);
  if (!reg.ValueExists(name) || reg.GetDataType(name) != TRegDataType::rdString) return "";
  return canonicalCharsetName(reg.ReadString(name)).value_or("");
}

void remember(TMainform& form, const std::string& charset) {
  TRegistry reg(form.Settings(), LOCAL_MACHINE);
  reg.OpenKey(kChoicesKey, true);
  if (charset.empty())
    reg.DeleteValue(archiveKey(form));
  else
    reg.WriteString(archiveKey(form), charset);
  reg.CloseKey();
}

// Checks the engine's choice; with Detect, the set found for the open archive is in bold.
void showState(TMainform& form) {
  QMenu* menu = encodingMenu(form);
  if (!menu) return;
  const QString chosen = TextToQt(form.Engine().NameEncoding());
  const bool open = !form.CurrentArchive().isEmpty();
  const QString found = TextToQt(form.Engine().ActiveNameEncoding().Charset());
  for (QAction* item : menu->actions()) {
    if (item->isSeparator()) continue;
    const QString set = item->data().toString();
    item->setChecked(set == chosen);
    QFont font = item->font();
    font.setBold(chosen.isEmpty() && open && set == found);
    item->setFont(font);
    if (set.isEmpty())
      item->setStatusTip(open && chosen.isEmpty() ? "Found from the names: " + found
                                                  : "Find the encoding from the names");
  }
}

}  // namespace

void BuildNameEncodingMenu(TMainform& form, QMenu* menu) {
  auto* group = new QActionGroup(menu);
  auto add = [&](const QString& caption, const QString& charset, const QString& objectName) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(objectName);
    item->setData(charset);
    item->setCheckable(true);
    group->addAction(item);
  };
  add("Detect", "", "NameEncodingDetect");
  menu->addSeparator();
  for (const TCharsetChoice& choice : nameEncodingChoices())
    add(TextToQt(choice.label), TextToQt(choice.charset),
        "NameEncoding_" + TextToQt(choice.charset));
  // The bold item follows the archive open when the menu is shown.
  QObject::connect(menu, &QMenu::aboutToShow, menu, [&form] { showState(form); });
  showState(form);
}

void ApplyNameEncodingChoice(TMainform& form) {
  try {
    form.Engine().SetNameEncoding(rememberedChoice(form));
  } catch (const EUnknownCharset&) {
    // A set this system's iconv lacks: the names are read as if nothing was chosen.
    form.Engine().SetNameEncoding("");
  }
  showState(form);
}

void NameEncodingCommand(TMainform& form, QAction* item) {
  const std::string charset = TextFromQt(item->data().toString());
  if (form.CurrentArchive().isEmpty()) {
    form.Engine().SetNameEncoding(charset);
    showState(form);
    return;
  }
  remember(form, charset);
  form.OpenIT();
}

}  // namespace quelt
