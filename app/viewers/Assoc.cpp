#include "app/viewers/Assoc.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/dialogs/DialogParts.h"
#include "platform/LinuxProcesses.h"
#include "platform/XdgAssociation.h"

namespace quelt {

TAssocDialog::TAssocDialog(QWidget* parent, TSettingsStore& settings)
    : QDialog(parent),
      settings_(settings),
      runner_(std::make_unique<TLinuxProcessRunner>()),
      ownDesktop_(std::make_unique<TXdgAssociation>(*runner_)),
      desktop_(ownDesktop_.get()) {
  setObjectName("AssocDialog");
  setWindowTitle("Quelt");
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(
      "For full access to Quelt's shell interface, Quelt must be properly associated with ZIP "
      "files. However, Quelt is not currently associated with ZIP files.",
      this);
  text->setObjectName("TextLabel");
  text->setWordWrap(true);
  text->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
  auto* question = new QLabel("<b>Associate Quelt with ZIP files now?</b>", this);
  question->setObjectName("QuestionLabel");
  layout->addWidget(text);
  layout->addSpacing(fontMetrics().height());
  layout->addWidget(question);
  layout->addSpacing(6);

  auto* box = new QDialogButtonBox(this);
  QPushButton* yes = box->addButton("&Yes", QDialogButtonBox::YesRole);
  yes->setObjectName("YesBut");
  yes->setDefault(true);
  box->addButton("&No", QDialogButtonBox::NoRole)->setObjectName("NoBut");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(box);
  NeverShowCheck = new QCheckBox("Never display this message again", this);
  NeverShowCheck->setObjectName("NeverShowCheck");
  layout->addWidget(NeverShowCheck);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  PropStore5 = new TPropStore(this, settings_);
  PropStore5->RegistryRoot = CURRENT_USER;
  PropStore5->Items = {SettingsItem("NeverShowCheck", "Checked", "", "ShowAssocDialog")};
  PropStore5->LoadItems();
}

TAssocDialog::~TAssocDialog() {
  SaveChoice();
}

void TAssocDialog::SaveChoice() {
  // A settings file that cannot be written only means the question comes again.
  (void)PropStore5->SaveItems();
}

void TAssocDialog::SetValInReg(TRegRoots root, const std::string& key, const std::string& value,
                               const std::string& name) {
  TRegistry reg(settings_, root);
  reg.OpenKey(key, true);
  reg.WriteString(name, value);
  reg.CloseKey();
}

void TAssocDialog::MakeAssociation(const QString& extension, const QString& programPath) {
  const std::string ext = TextFromQt(extension.toLower());
  const std::string program = PathFromQt(programPath);
  // The desktop first: it refuses a program that is not there, and then nothing is kept.
  desktop_->MakeZipHandler(program);
  SetValInReg(CLASSES_ROOT, "." + ext, "Quelt", "");
  SetValInReg(CLASSES_ROOT, "Quelt", "Quelt File", "");
  SetValInReg(CLASSES_ROOT, "Quelt\\shell\\open\\command", program + " %1", "");
  SetValInReg(CLASSES_ROOT, "Quelt\\DefaultIcon", program + ",0", "");
}

}  // namespace quelt
