#include "app/dialogs/OptionsForm.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/dialogs/DialogParts.h"

namespace quelt {

TOptionsForm::TOptionsForm(QWidget* parent, TSettingsStore& settings, IDialogs& dialogs)
    : QDialog(parent), settings_(settings), dialogs_(dialogs) {
  setObjectName("OptionsForm");
  setWindowTitle("Options");
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  PageControl1->addTab(buildProgramPage(), "Program");
  PageControl1->addTab(buildAntiVirusPage(), "Anti-Virus");
  OKBut = new QPushButton("&OK", this);
  OKBut->setObjectName("OKBut");
  OKBut->setDefault(true);
  CancelBut = MakeButton("CancelBut", "&Cancel", this);
  connect(OKBut, &QPushButton::clicked, this, &TOptionsForm::accept);
  connect(CancelBut, &QPushButton::clicked, this, &TOptionsForm::reject);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(OKBut);
  bottom->addWidget(CancelBut);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1, 1);
  layout->addLayout(bottom);
  resize(fontMetrics().averageCharWidth() * 72, sizeHint().height());

  PropStore1 = new TPropStore(this, settings_);
  PropStore1->RegistryRoot = LOCAL_MACHINE;
  PropStore1->Items = {
      // With nothing stored, Cancel still goes back to how the dialog started.
      SettingsItem("AddLastRadio", "Checked", "1", "AddUseLast"),
      SettingsItem("AddFolderRadio", "Checked", "0", "AddUseSpecDir"),
      SettingsItem("ExtractLastRadio", "Checked", "1", "ExtractUseLast"),
      SettingsItem("ExtractFolderRadio", "Checked", "0", "ExtractUseSpecDir"),
      SettingsItem("AntiVirusEdit", "Text", "", "AntiVirusProgram"),
      SettingsItem("AntiVirusParamEdit", "Text", "", "AntiVirusParam"),
      SettingsItem("RunMinimizedCheck", "Checked", "0", "RunAntiVirusMinimized"),
  };
  LoadSettings();
}

QWidget* TOptionsForm::folderChoice(const QString& title, const QString& prefix,
                                    QRadioButton*& last, QRadioButton*& folder, QLineEdit*& edit,
                                    QPushButton*& browse) {
  auto* group = new QGroupBox(title, this);
  group->setObjectName(prefix + "Group");
  last = new QRadioButton("Last Folder", group);
  last->setObjectName(prefix + "LastRadio");
  last->setChecked(true);
  folder = new QRadioButton("Folder:", group);
  folder->setObjectName(prefix + "FolderRadio");
  edit = new QLineEdit(group);
  edit->setObjectName(prefix == "Add" ? "AddDirEdit" : "ExtDirEdit");
  browse = MakeButton(prefix + "DirBut", "...", group);
  browse->setFixedWidth(fontMetrics().averageCharWidth() * 5);
  QLineEdit* target = edit;
  connect(browse, &QPushButton::clicked, this, [this, target] { browseInto(target); });
  connect(last, &QRadioButton::toggled, this, &TOptionsForm::updateFolderEdits);
  auto* row = new QHBoxLayout;
  row->addWidget(folder);
  row->addWidget(edit, 1);
  row->addWidget(browse);
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(last);
  layout->addLayout(row);
  return group;
}

QWidget* TOptionsForm::buildProgramPage() {
  auto* page = new QWidget(this);
  auto* temp = new QGroupBox("When no directory is specified expand ZIPs to (temporal):", page);
  temp->setObjectName("ExpDirGroup");
  auto* tempLabel = new QLabel("Folder:", temp);
  ExpDirEdit = new QLineEdit(temp);
  ExpDirEdit->setObjectName("ExpDirEdit");
  tempLabel->setBuddy(ExpDirEdit);
  ExpDirBut = MakeButton("ExpDirBut", "...", temp);
  ExpDirBut->setFixedWidth(fontMetrics().averageCharWidth() * 5);
  connect(ExpDirBut, &QPushButton::clicked, this, [this] { browseInto(ExpDirEdit); });
  auto* tempRow = new QHBoxLayout(temp);
  tempRow->addWidget(tempLabel);
  tempRow->addWidget(ExpDirEdit, 1);
  tempRow->addWidget(ExpDirBut);

  QWidget* add = folderChoice("Default Add Folder:", "Add", AddLastRadio, AddFolderRadio,
                              AddDirEdit, AddDirBut);
  QWidget* extract = folderChoice("Default Extract Folder:", "Extract", ExtractLastRadio,
                                  ExtractFolderRadio, ExtDirEdit, ExtDirBut);
  ExtDirBut->setObjectName("ExtDirBut");
  AddDocsCheck =
      new QCheckBox("Add recently used ZIPs to \"My Documents\" in the Start Menu", page);
  AddDocsCheck->setObjectName("AddDocsCheck");
  ShowOutputCheck = new QCheckBox("Show output when zipping and unzipping files", page);
  ShowOutputCheck->setObjectName("ShowOutputCheck");
  auto* threadsLabel = new QLabel("Threads compressing files:", page);
  ThreadsSpin = new QSpinBox(page);
  ThreadsSpin->setObjectName("ThreadsSpin");
  ThreadsSpin->setRange(1, kMaxCompressThreads);
  threadsLabel->setBuddy(ThreadsSpin);
  auto* threadsRow = new QHBoxLayout;
  threadsRow->addWidget(threadsLabel);
  threadsRow->addWidget(ThreadsSpin);
  threadsRow->addStretch(1);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(temp);
  layout->addWidget(add);
  layout->addWidget(extract);
  layout->addWidget(AddDocsCheck);
  layout->addWidget(ShowOutputCheck);
  layout->addLayout(threadsRow);
  layout->addStretch(1);
  return page;
}

QWidget* TOptionsForm::buildAntiVirusPage() {
  auto* page = new QWidget(this);
  auto* group = new QGroupBox("Virus Scanners:", page);
  group->setObjectName("VirusGroup");
  auto* programLabel = new QLabel("Program path:", group);
  AntiVirusEdit = new QLineEdit(group);
  AntiVirusEdit->setObjectName("AntiVirusEdit");
  programLabel->setBuddy(AntiVirusEdit);
  AntiVirusBut = MakeButton("AntiVirusBut", "...", group);
  AntiVirusBut->setFixedWidth(fontMetrics().averageCharWidth() * 5);
  connect(AntiVirusBut, &QPushButton::clicked, this, &TOptionsForm::AntiVirusButClick);
  auto* paramLabel = new QLabel("Parameters:", group);
  AntiVirusParamEdit = new QLineEdit(group);
  AntiVirusParamEdit->setObjectName("AntiVirusParamEdit");
  paramLabel->setBuddy(AntiVirusParamEdit);
  RunMinimizedCheck = new QCheckBox("Run minimized", group);
  RunMinimizedCheck->setObjectName("RunMinimizedCheck");
  auto* programRow = new QHBoxLayout;
  programRow->addWidget(AntiVirusEdit, 1);
  programRow->addWidget(AntiVirusBut);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(programLabel);
  groupLayout->addLayout(programRow);
  groupLayout->addWidget(paramLabel);
  groupLayout->addWidget(AntiVirusParamEdit);
  groupLayout->addWidget(RunMinimizedCheck);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(group);
  layout->addStretch(1);
  return page;
}

void TOptionsForm::LoadSettings() {
  PropStore1->LoadItems();
  try {
    TRegistry reg(settings_, LOCAL_MACHINE);
    if (reg.OpenKeyReadOnly(kSettingsKey)) {
      auto text = [&](const char* name) {
        return reg.ValueExists(name) ? PathToQt(reg.ReadString(name)) : QString();
      };
      ExpDirEdit->setText(text("ExpDir"));
      AddDirEdit->setText(text("AddDir"));
      ExtDirEdit->setText(text("ExtDir"));
      // Each box shows what is stored, false as well as true.
      ShowOutputCheck->setChecked(!reg.ValueExists("ShowOutput") || reg.ReadBool("ShowOutput"));
      AddDocsCheck->setChecked(!reg.ValueExists("AddDocs2StartMenu") ||
                               reg.ReadBool("AddDocs2StartMenu"));
      ThreadsSpin->setValue(reg.ValueExists("CompressThreads") ? reg.ReadInteger("CompressThreads")
                                                               : 1);
    }
  } catch (const ERegistryException&) {
    // A value of the wrong kind leaves its control as it was.
  }
  updateFolderEdits();
}

void TOptionsForm::showEvent(QShowEvent* event) {
  // Another program, or the last Cancel, may have changed what is stored.
  if (!event->spontaneous()) LoadSettings();
  if (proposal_) {
    AntiVirusEdit->setText(proposal_->first);
    AntiVirusParamEdit->setText(proposal_->second);
    proposal_.reset();
  }
  QDialog::showEvent(event);
}

void TOptionsForm::updateFolderEdits() {
  AddDirEdit->setEnabled(!AddLastRadio->isChecked());
  AddDirBut->setEnabled(!AddLastRadio->isChecked());
  ExtDirEdit->setEnabled(!ExtractLastRadio->isChecked());
  ExtDirBut->setEnabled(!ExtractLastRadio->isChecked());
}

void TOptionsForm::browseInto(QLineEdit* edit) {
  if (auto folder = dialogs_.BrowseFolder("Select Folder", PathFromQt(edit->text())))
    edit->setText(PathToQt(*folder));
}

void TOptionsForm::AntiVirusButClick() {
  // Programs here carry no extension: the dialog lists the files that may be run.
  TFileDialogSpec spec{"Open", "Programs|*", PathFromQt(AntiVirusEdit->text()), "", ""};
  if (auto program = dialogs_.OpenProgram(spec)) AntiVirusEdit->setText(PathToQt(*program));
}

void TOptionsForm::accept() {
  try {
    if (!PropStore1->SaveItems()) throw ERegistryException("The settings could not be saved");
    TRegistry reg(settings_, LOCAL_MACHINE);
    reg.OpenKey(kSettingsKey, true);
    reg.WriteString("ExpDir", PathFromQt(ExpDirEdit->text()));
    reg.WriteString("AddDir", PathFromQt(AddDirEdit->text()));
    reg.WriteString("ExtDir", PathFromQt(ExtDirEdit->text()));
    reg.WriteBool("ShowOutput", ShowOutputCheck->isChecked());
    reg.WriteBool("AddDocs2StartMenu", AddDocsCheck->isChecked());
    reg.WriteInteger("CompressThreads", ThreadsSpin->value());
    reg.CloseKey();
  } catch (const ERegistryException& e) {
    // The dialog stays open: what the user chose is still in it.
    dialogs_.MessageBox(e.what(), "Quelt", TMsgBoxIcon::Error, TMsgBoxButtons::OK);
    return;
  }
  QDialog::accept();
}

void TOptionsForm::reject() {
  PropStore1->LoadItems();
  updateFolderEdits();
  QDialog::reject();
}

}  // namespace quelt
