#include "app/dialogs/ExtractForm.h"

#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/dialogs/DialogParts.h"

namespace quelt {

TExtract::TExtract(QWidget* parent, TSettingsStore& settings, IDialogs& dialogs)
    : QDialog(parent), settings_(settings), dialogs_(dialogs) {
  setObjectName("Extract");
  setWindowTitle("Select Extract Directory");
  QWidget* standard = buildStandardTab();
  TTabbedDialog parts = LayOutTabbed(this, standard, buildAdvancedTab(), "&Extract", 90, 28);
  PageControl1 = parts.pages;
  OKBut = parts.ok;
  CancelBut = parts.cancel;
  connect(OKBut, &QPushButton::clicked, this, &TExtract::accept);
  connect(CancelBut, &QPushButton::clicked, this, &TExtract::reject);

  PropStore3 = new TPropStore(this, settings_);
  PropStore3->RegistryRoot = CURRENT_USER;
  PropStore3->Items = {
      SettingsItem("ExpandDirsGroup", "ItemIndex", "1", "ExpandZIPDirs"),
      SettingsItem("OverwriteGroup", "ItemIndex", "1", "OverwriteExisting"),
      SettingsItem("FilesGroup", "ItemIndex", "0", "FilesToExtract"),
      SettingsItem("RetainAttribCheck", "Checked", "", "RetainAttrib"),
      SettingsItem("ExtractToEdit", "Text", "", "LastExtractDir"),
  };
  PropStore3->LoadItems();
  QString remembered = ExtractToEdit->text();
  if (!DirTree->SetFolder(remembered)) DirTree->SetFolder(QDir::homePath());
  // The tree's choice fills the edit; the remembered text itself stays, even a folder that
  // is not there yet.
  ExtractToEdit->setText(remembered);
  applyPreference();
}

QWidget* TExtract::buildStandardTab() {
  auto* page = new QWidget(this);
  auto* toLabel = new QLabel("Extract To:", page);
  QFont bold = toLabel->font();
  bold.setBold(true);
  toLabel->setFont(bold);
  ExtractToEdit = new QLineEdit(QDir::homePath(), page);
  ExtractToEdit->setObjectName("ExtractToEdit");
  toLabel->setBuddy(ExtractToEdit);

  ExpandDirsGroup =
      new TRadioGroup("ExpandDirsGroup", "Expand ZIP Dirs:", {"No", "Yes"}, 2, 1, page);
  OverwriteGroup =
      new TRadioGroup("OverwriteGroup", "Overwrite Existing:", {"No", "Yes", "Prompt"}, 3, 1, page);
  FilesGroup = new TRadioGroup("FilesGroup", "Files to Extract:", {"All Files", "Selected Files"},
                               2, 0, page);
  NewFolderBut = MakeButton("NewFolderBut", "New Folder...", page);
  PasswordBut = MakeButton("PasswordBut", "Password...", page);
  connect(NewFolderBut, &QPushButton::clicked, this, &TExtract::NewFolderClick);
  connect(PasswordBut, &QPushButton::clicked, this, [this] {
    if (OnPassword) OnPassword();
  });

  DirTree = new TFolderTree("DirTree", page);
  connect(DirTree, &TFolderTree::FolderChanged, ExtractToEdit, &QLineEdit::setText);

  auto* left = new QVBoxLayout;
  left->addWidget(ExpandDirsGroup);
  left->addWidget(OverwriteGroup);
  left->addWidget(FilesGroup);
  left->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(NewFolderBut);
  buttons->addWidget(PasswordBut);
  left->addLayout(buttons);
  auto* body = new QHBoxLayout;
  body->addLayout(left);
  body->addWidget(DirTree, 1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(toLabel);
  layout->addWidget(ExtractToEdit);
  layout->addLayout(body, 1);
  return page;
}

QWidget* TExtract::buildAdvancedTab() {
  auto* page = new QWidget(this);
  RetainAttribCheck = new QCheckBox("Retain Original Attributes", page);
  RetainAttribCheck->setObjectName("RetainAttribCheck");
  RetainAttribCheck->setChecked(true);
  auto* rootGroup = new QGroupBox("Root Directory:", page);
  rootGroup->setObjectName("RootGroup");
  auto* rootLabel = new QLabel("Relative Root Directory (Optional):", rootGroup);
  RootDirEdit = new QLineEdit(rootGroup);
  RootDirEdit->setObjectName("RootDirEdit");
  rootLabel->setBuddy(RootDirEdit);
  RootDirBut = MakeButton("RootDirBut", "...", rootGroup);
  RootDirBut->setFixedWidth(fontMetrics().averageCharWidth() * 5);
  connect(RootDirBut, &QPushButton::clicked, this, &TExtract::RootDirClick);
  auto* row = new QHBoxLayout;
  row->addWidget(RootDirEdit, 1);
  row->addWidget(RootDirBut);
  auto* groupLayout = new QVBoxLayout(rootGroup);
  groupLayout->addWidget(rootLabel);
  groupLayout->addLayout(row);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(RetainAttribCheck);
  layout->addWidget(rootGroup);
  layout->addStretch(1);
  return page;
}

void TExtract::applyPreference() {
  try {
    TRegistry reg(settings_, LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly(kSettingsKey)) return;
    QString useLast =
        reg.ValueExists("ExtractUseLast") ? TextToQt(reg.ReadString("ExtractUseLast")) : "1";
    if (!useLast.isEmpty() && QString("1TtYy").contains(useLast[0])) return;
    QString folder = TrimControl(PathToQt(reg.ReadString("ExtDir")));
    ExtractToEdit->setText(folder.isEmpty() ? QDir::homePath() : folder);
  } catch (const ERegistryException&) {
  }
}

TUZOverwriteMode TExtract::OverwriteChoice() const {
  switch (OverwriteGroup->ItemIndex()) {
    case 0:
      return Never;
    case 2:
      return Prompt;
    default:
      return Always;
  }
}

void TExtract::NewFolderClick() {
  (void)DirTree->NewFolder();
}

void TExtract::RootDirClick() {
  if (auto folder = dialogs_.BrowseFolder("Select Folder", PathFromQt(RootDirEdit->text())))
    RootDirEdit->setText(PathToQt(*folder));
}

void TExtract::accept() {
  (void)PropStore3->SaveItems();
  destination_ = ExtractToEdit->text();
  QDialog::accept();
}

void TExtract::reject() {
  // Choices made before cancelling are remembered too.
  (void)PropStore3->SaveItems();
  destination_.clear();
  QDialog::reject();
}

void TExtract::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
    NewFolderClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace quelt
