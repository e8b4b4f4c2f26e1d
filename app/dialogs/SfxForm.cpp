#include "app/dialogs/SfxForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/dialogs/DialogParts.h"

namespace quelt {

TZIPEXE::TZIPEXE(QWidget* parent, TSettingsStore& settings) : QDialog(parent) {
  setObjectName("ZIPEXE");
  setWindowTitle("Create Self-Extracting ZIP");
  PlatformGroup = new TRadioGroup(
      "PlatformGroup", "Platform:", {"Win32 Enh.", "Win32 Std.", "Win16", "DOS"}, 2, 0, this);
  QWidget* options = buildOptions();
  QWidget* texts = buildTexts();
  CreateBut = new QPushButton("Create &EXE", this);
  CreateBut->setObjectName("CreateBut");
  CreateBut->setDefault(true);
  CancelBut = MakeButton("CancelBut", "&Cancel", this);
  connect(CreateBut, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBut, &QPushButton::clicked, this, &QDialog::reject);
  connect(PlatformGroup, &TRadioGroup::ItemIndexChanged, this, &TZIPEXE::PlatformGroupClick);

  auto* left = new QVBoxLayout;
  left->addWidget(PlatformGroup);
  left->addWidget(options);
  left->addStretch(1);
  auto* body = new QHBoxLayout;
  body->addLayout(left);
  body->addWidget(texts, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(CreateBut);
  bottom->addWidget(CancelBut);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addLayout(bottom);
  // The help texts read best on lines of some length.
  TextPanel->setMinimumWidth(fontMetrics().averageCharWidth() * 48);

  PropStore1 = new TPropStore(this, settings);
  PropStore1->RegistryRoot = CURRENT_USER;
  PropStore1->Items = {
      SettingsItem("PlatformGroup", "ItemIndex", "", "SFXPlatform"),
      SettingsItem("OverwriteGroup", "ItemIndex", "", "Win32OverWriteAct"),
      SettingsItem("AskCmdLineCheck", "Checked", "", "AllowAvoidCommandLine"),
      SettingsItem("AskFilesCheck", "Checked", "", "AllowModifyList"),
      SettingsItem("HideOverwriteCheck", "Checked", "", "HideOverWriteAction"),
      SettingsItem("CaptionEdit", "Text", "", "SFXCaption"),
      SettingsItem("ExtractDirEdit", "Text", "", "SFXExtractDir"),
      SettingsItem("CommandLineEdit", "Text", "", "SFXCommandLineExec"),
  };
  PropStore1->LoadItems();
  if (PlatformGroup->ItemIndex() < 0) PlatformGroup->SetItemIndex(0);
  if (OverwriteGroup->ItemIndex() < 0) OverwriteGroup->SetItemIndex(0);
  PlatformGroupClick();
}

TZIPEXE::~TZIPEXE() {
  // A failed save has no one left to tell; the next start shows what the file holds.
  (void)PropStore1->SaveItems();
}

QWidget* TZIPEXE::buildOptions() {
  OptionsPanel = new QGroupBox("Options:", this);
  OptionsPanel->setObjectName("OptionsPanel");
  OverwriteGroup = new TRadioGroup(
      "OverwriteGroup", "Overwrite:", {"Ask User", "Always Overwrite", "Skip extraction"}, 1, 0,
      OptionsPanel);
  auto check = [&](const char* name, const char* caption) {
    auto* box = new QCheckBox(caption, OptionsPanel);
    box->setObjectName(name);
    return box;
  };
  AskCmdLineCheck = check("AskCmdLineCheck", "Allow User to avoid running the command line");
  AskFilesCheck = check("AskFilesCheck", "Allow User to modify the file list to be extracted");
  HideOverwriteCheck =
      check("HideOverwriteCheck", "Hide the Overwrite Action group box at run time");
  auto* layout = new QVBoxLayout(OptionsPanel);
  layout->addWidget(OverwriteGroup);
  layout->addWidget(AskCmdLineCheck);
  layout->addWidget(AskFilesCheck);
  layout->addWidget(HideOverwriteCheck);
  return OptionsPanel;
}

QWidget* TZIPEXE::buildTexts() {
  TextPanel = new QGroupBox(this);
  TextPanel->setObjectName("TextPanel");
  auto* layout = new QVBoxLayout(TextPanel);
  auto edit = [&](const char* name, const char* caption) {
    auto* label = new QLabel(caption, TextPanel);
    label->setWordWrap(true);
    auto* e = new QLineEdit(TextPanel);
    e->setObjectName(name);
    label->setBuddy(e);
    layout->addWidget(label);
    layout->addWidget(e);
    return e;
  };
  CaptionEdit = edit("CaptionEdit", "Caption of the Self Extracting Archive Program:");
  ExtractDirEdit = edit("ExtractDirEdit",
                        "Default Extract Directory on User's Computer  (if '><' then the "
                        "temporary directory will be used):");
  CommandLineEdit = edit("CommandLineEdit", "Command Line to Execute After Extraction:");
  layout->addSpacing(fontMetrics().height() / 2);
  for (const char* line :
       {"Special Command Line Symbols:",
        "A vertical bar '|' separates the program name from the argument list",
        "Two Arrows '><' will be replaced by the actual extract directory",
        "The following example runs notepad to display readme.txt in extract dir:"}) {
    auto* label = new QLabel(line, TextPanel);
    label->setWordWrap(true);
    layout->addWidget(label);
  }
  auto* example = new QLabel("notepad|><readme.txt", TextPanel);
  QFont bold = example->font();
  bold.setBold(true);
  example->setFont(bold);
  layout->addWidget(example);
  layout->addStretch(1);
  return TextPanel;
}

void TZIPEXE::PlatformGroupClick() {
  const bool enhanced = PlatformGroup->ItemIndex() == pfWin32Enh;
  // Disabled edits take the style's greyed colours, as the other platforms take no options.
  OptionsPanel->setEnabled(enhanced);
  TextPanel->setEnabled(enhanced);
}

TQueltSFX& TZIPEXE::Builder(const std::string& archive) {
  ZipSFX1.ZipFilename = archive;
  ZipSFX1.OutputFile.clear();
  ZipSFX1.ReplaceExisting = false;
  ZipSFX1.SFXOptions = {};
  if (AskCmdLineCheck->isChecked()) ZipSFX1.SFXOptions.Include(SFXAskCmdLine);
  if (AskFilesCheck->isChecked()) ZipSFX1.SFXOptions.Include(SFXAskFiles);
  if (HideOverwriteCheck->isChecked()) ZipSFX1.SFXOptions.Include(SFXHideOverWriteBox);
  const OvrOpts modes[] = {OvrConfirm, OvrAlways, OvrNever};
  int mode = OverwriteGroup->ItemIndex();
  ZipSFX1.SFXOverWriteMode = mode >= 0 && mode < 3 ? modes[mode] : OvrConfirm;
  ZipSFX1.SFXCaption = TextFromQt(CaptionEdit->text());
  ZipSFX1.SFXDefaultDir = TextFromQt(ExtractDirEdit->text());
  ZipSFX1.SFXCommandLine = TextFromQt(CommandLineEdit->text());
  return ZipSFX1;
}

}  // namespace quelt
