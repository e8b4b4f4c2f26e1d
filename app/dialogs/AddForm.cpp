#include "app/dialogs/AddForm.h"

#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/dialogs/DialogParts.h"

namespace quelt {

namespace {

const int kLiteralRole = Qt::UserRole;
const int kFolderRole = Qt::UserRole + 1;

QString withSlash(const QString& folder) {
  return folder.endsWith('/') ? folder : folder + '/';
}

QCheckBox* checkBox(const QString& name, const QString& caption, QWidget* parent) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  return c;
}

}  // namespace

TAddForm::TAddForm(QWidget* parent, TSettingsStore& settings, IDialogs& dialogs)
    : QDialog(parent), settings_(settings), dialogs_(dialogs) {
  setObjectName("AddForm");
  setWindowTitle("Add Files");
  setAcceptDrops(true);

  QWidget* standard = buildStandardTab();
  TTabbedDialog parts = LayOutTabbed(this, standard, buildAdvancedTab(), "&Add", 136, 32);
  PageControl1 = parts.pages;
  OKBut = parts.ok;
  CancelBut = parts.cancel;
  connect(OKBut, &QPushButton::clicked, this, &TAddForm::okClick);
  connect(CancelBut, &QPushButton::clicked, this, &QDialog::reject);

  PropStore2 = new TPropStore(this, settings_);
  PropStore2->RegistryRoot = LOCAL_MACHINE;
  PropStore2->Items = {
      SettingsItem("RecurseCheck", "Checked", "False", "Recurse"),
      SettingsItem("DirNameCheck", "Checked", "False", "DirName"),
      SettingsItem("ZipLevel", "Value", "", "CompressValue"),
      SettingsItem("ZipActionGroup", "ItemIndex", "", "AddZipAction"),
      SettingsItem("ShortNamesCheck", "Checked", "", "Store83Names"),
      SettingsItem("VolumeCheck", "Checked", "", "StoreVolumes"),
  };
  PropStore2->LoadItems();
  chooseStartFolder();
}

TAddForm::~TAddForm() {
  // At the program's end no one is left to tell of a failed save.
  (void)PropStore2->SaveItems();
  try {
    TRegistry reg(settings_, LOCAL_MACHINE);
    reg.OpenKey(kSettingsKey, true);
    reg.WriteString("LastAddDir", PathFromQt(DirTree->Folder()));
    reg.CloseKey();
  } catch (const ERegistryException&) {
  }
}

QWidget* TAddForm::buildStandardTab() {
  auto* page = new QWidget(this);

  DirTree = new TFolderTree("DirTree", page);
  SelectAllBut = MakeButton("SelectAllBut", "Select All Files", page);
  FilterEdit = new QLineEdit("*.*", page);
  FilterEdit->setObjectName("FilterEdit");
  FileList = new QTreeWidget(page);
  FileList->setObjectName("FileList");
  FileList->setHeaderLabels({"Name", "Size", "Type", "Modified"});
  FileList->setRootIsDecorated(false);
  FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FileList->setUniformRowHeights(true);
  FileList->setColumnWidth(0, fontMetrics().averageCharWidth() * 30);
  FileList->setColumnWidth(1, fontMetrics().averageCharWidth() * 10);
  connect(DirTree, &TFolderTree::FolderChanged, this, [this] { fillFileList(); });
  // Enter in the filter edit filters and goes no further: the dialog's default button must not
  // see it, and OK must not ask where the keyboard focus happens to be.
  FilterEdit->installEventFilter(this);
  connect(SelectAllBut, &QPushButton::clicked, this, &TAddForm::SelectAllClick);
  connect(FileList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    // A folder opens in the tree; a file goes into the list.
    if (item->data(0, kFolderRole).toBool())
      DirTree->SetFolder(withSlash(DirTree->Folder()) + item->text(0));
    else
      AddFilesClick();
  });

  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(SelectAllBut);
  filterRow->addWidget(FilterEdit, 1);
  auto* filesPane = new QWidget(page);
  auto* filesLayout = new QVBoxLayout(filesPane);
  filesLayout->setContentsMargins(0, 0, 0, 0);
  filesLayout->addLayout(filterRow);
  filesLayout->addWidget(FileList, 1);
  auto* split = new QSplitter(Qt::Vertical, page);
  split->addWidget(DirTree);
  split->addWidget(filesPane);
  split->setChildrenCollapsible(false);

  AddWildBut = MakeButton("AddWildBut", "Add &Wildcard", page);
  AddFolderBut = MakeButton("AddFolderBut", "Add &Folder", page);
  AddFilesBut = MakeButton("AddFilesBut", "Add File(s)", page);
  RemoveBut = MakeButton("RemoveBut", "Remove", page);
  PasswordBut = MakeButton("PasswordBut", "Password...", page);
  connect(AddWildBut, &QPushButton::clicked, this, &TAddForm::AddWildcardClick);
  connect(AddFolderBut, &QPushButton::clicked, this, &TAddForm::AddFolderClick);
  connect(AddFilesBut, &QPushButton::clicked, this, &TAddForm::AddFilesClick);
  connect(RemoveBut, &QPushButton::clicked, this, &TAddForm::RemoveClick);
  connect(PasswordBut, &QPushButton::clicked, this, [this] {
    if (OnPassword) OnPassword();
  });
  auto* buttons = new QVBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {AddWildBut, AddFolderBut, AddFilesBut, RemoveBut, PasswordBut})
    buttons->addWidget(b);
  buttons->addStretch(1);

  auto* listLabel = new QLabel("Files to Add:", page);
  SortBut = MakeButton("SortBut", "&Sort", page);
  SelectedList = new QListWidget(page);
  SelectedList->setObjectName("SelectedList");
  SelectedList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  listLabel->setBuddy(SelectedList);
  connect(SortBut, &QPushButton::clicked, this, &TAddForm::SortClick);
  connect(SelectedList, &QListWidget::itemDoubleClicked, this, &TAddForm::ExecuteClick);
  auto* execute = new QAction("&Execute", SelectedList);
  execute->setObjectName("Execute1");
  execute->setShortcut(QKeySequence(Qt::Key_F9));
  execute->setShortcutContext(Qt::WidgetShortcut);
  connect(execute, &QAction::triggered, this, &TAddForm::ExecuteClick);
  SelectedList->addAction(execute);
  SelectedList->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* listHead = new QHBoxLayout;
  listHead->addWidget(listLabel);
  listHead->addStretch(1);
  listHead->addWidget(SortBut);
  auto* listPane = new QVBoxLayout;
  listPane->addLayout(listHead);
  listPane->addWidget(SelectedList, 1);

  auto* layout = new QHBoxLayout(page);
  layout->addWidget(split, 5);
  layout->addLayout(buttons);
  layout->addLayout(listPane, 4);
  return page;
}

QWidget* TAddForm::buildAdvancedTab() {
  auto* page = new QWidget(this);
  ZipLevel = new QSpinBox(page);
  ZipLevel->setObjectName("ZipLevel");
  ZipLevel->setRange(1, 9);
  ZipLevel->setValue(6);
  // Chosen with the arrows only: a typed level could be out of range.
  if (auto* edit = ZipLevel->findChild<QLineEdit*>()) edit->setReadOnly(true);
  auto* levelLabel = new QLabel("Compression Level 1-9 (1 is the fastest):", page);
  levelLabel->setBuddy(ZipLevel);
  auto* levelRow = new QHBoxLayout;
  levelRow->addWidget(levelLabel);
  levelRow->addWidget(ZipLevel);
  levelRow->addStretch(1);

  auto* rootGroup = new QGroupBox("Root Directory for wildcards (masks) without pathname:", page);
  rootGroup->setObjectName("RootGroup");
  RootDirEdit = new QLineEdit(rootGroup);
  RootDirEdit->setObjectName("RootDirEdit");
  RootDirBut = MakeButton("RootDirBut", "...", rootGroup);
  RootDirBut->setFixedWidth(fontMetrics().averageCharWidth() * 5);
  connect(RootDirBut, &QPushButton::clicked, this, &TAddForm::RootDirClick);
  auto* rootRow = new QHBoxLayout(rootGroup);
  rootRow->addWidget(RootDirEdit, 1);
  rootRow->addWidget(RootDirBut);

  VolumeCheck = checkBox("VolumeCheck", "Save Volume Information", page);
  ShortNamesCheck = checkBox("ShortNamesCheck", "Store as DOS 8.3 filenames (short)", page);
  ZipActionGroup = new TRadioGroup(
      "ZipActionGroup", "Existing Components:", {"Replace", "Update", "Freshen"}, 3, 1, page);
  DirNameCheck = checkBox("DirNameCheck", "Save Folder Information", page);
  RecurseCheck = checkBox("RecurseCheck", "Recurse Folders", page);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(levelRow);
  layout->addWidget(rootGroup);
  layout->addWidget(VolumeCheck);
  layout->addWidget(ShortNamesCheck);
  layout->addWidget(ZipActionGroup);
  layout->addWidget(DirNameCheck);
  layout->addWidget(RecurseCheck);
  layout->addStretch(1);
  return page;
}

void TAddForm::chooseStartFolder() {
  QString start;
  try {
    TRegistry reg(settings_, LOCAL_MACHINE);
    if (reg.OpenKeyReadOnly(kSettingsKey)) {
      // The Preferences' "Last Folder" is the choice until "Folder:" is stored.
      QString useLast =
          reg.ValueExists("AddUseLast") ? TextToQt(reg.ReadString("AddUseLast")) : "1";
      if (!useLast.isEmpty() && QString("1TtYy").contains(useLast[0]))
        start = PathToQt(reg.ReadString("LastAddDir"));
      else
        start = TrimControl(PathToQt(reg.ReadString("AddDir")));
    }
  } catch (const ERegistryException&) {
  }
  if (start.isEmpty() || !DirTree->SetFolder(start)) DirTree->SetFolder(QDir::homePath());
}

bool TAddForm::SetFolder(const QString& path) {
  bool shown = DirTree->SetFolder(path);
  // The same folder again is read again: its files may have changed.
  fillFileList();
  return shown;
}

QStringList TAddForm::Entries() const {
  QStringList out;
  for (int i = 0; i < SelectedList->count(); ++i) out << SelectedList->item(i)->text();
  return out;
}

QStringList TAddForm::LiteralEntries() const {
  QStringList out;
  for (int i = 0; i < SelectedList->count(); ++i)
    if (SelectedList->item(i)->data(kLiteralRole).toBool()) out << SelectedList->item(i)->text();
  return out;
}

TZipAction TAddForm::Action() const {
  switch (ZipActionGroup->ItemIndex()) {
    case 0:
      return zaReplace;
    case 2:
      return zaFreshen;
    default:
      return zaUpdate;
  }
}

bool TAddForm::AddEntry(const QString& entry, bool literal) {
  if (!SelectedList->findItems(entry, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
    return false;
  auto* item = new QListWidgetItem(entry);
  item->setData(kLiteralRole, literal);
  SelectedList->addItem(item);
  return true;
}

void TAddForm::showLastEntry() {
  if (SelectedList->count() == 0) return;
  SelectedList->scrollToItem(SelectedList->item(SelectedList->count() - 1));
}

void TAddForm::AddFolderClick() {
  QString folder = DirTree->Folder();
  if (folder.isEmpty()) return;
  AddEntry(withSlash(folder) + "*.*", false);
  showLastEntry();
}

void TAddForm::AddFilesClick() {
  QString folder = DirTree->Folder();
  if (folder.isEmpty()) return;
  for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = FileList->topLevelItem(i);
    if (!item->isSelected()) continue;
    QString path = withSlash(folder) + item->text(0);
    if (QFileInfo(path).isFile())
      AddEntry(path, true);
    else
      AddEntry(withSlash(path) + "*.*", false);
  }
  showLastEntry();
}

void TAddForm::AddWildcardClick() {
  QString folder = withSlash(DirTree->Folder());
  auto typed = dialogs_.InputQuery("Add Wildcard (for example *.exe)", PathFromQt(folder), "");
  if (!typed || TextToQt(*typed).indexOf('.') < 0) return;
  AddEntry(folder + TextToQt(*typed), false);
  showLastEntry();
}

void TAddForm::AddPaths(const QStringList& paths) {
  for (const QString& path : paths) {
    if (path.isEmpty()) continue;
    if (QFileInfo(path).isFile())
      AddEntry(path, true);
    else
      AddEntry(withSlash(path) + "*.*", false);
  }
  showLastEntry();
}

void TAddForm::RemoveClick() {
  for (int i = SelectedList->count() - 1; i >= 0; --i)
    if (SelectedList->item(i)->isSelected()) delete SelectedList->takeItem(i);
}

void TAddForm::SortClick() {
  SelectedList->setSortingEnabled(true);
  SelectedList->sortItems();
  SortBut->setEnabled(false);
}

void TAddForm::SelectAllClick() {
  FileList->clearSelection();
  for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = FileList->topLevelItem(i);
    if (!item->data(0, kFolderRole).toBool()) item->setSelected(true);
  }
}

void TAddForm::RootDirClick() {
  QString text = RootDirEdit->text();
  QString start = text.endsWith('/') ? text : text.left(int(text.lastIndexOf('/')) + 1);
  if (auto folder = dialogs_.BrowseFolder("Select Folder", PathFromQt(start)))
    RootDirEdit->setText(PathToQt(*folder));
}

void TAddForm::ApplyFilter() {
  fillFileList();
}

void TAddForm::ExecuteClick() {
  TWaitCursor wait;
  for (QListWidgetItem* item : SelectedList->selectedItems())
    (void)dialogs_.ShellOpen(PathFromQt(item->text()));
}

void TAddForm::okClick() {
  accept();
}

bool TAddForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FilterEdit && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      ApplyFilter();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TAddForm::fillFileList() {
  FileList->clear();
  QString folder = DirTree->Folder();
  if (folder.isEmpty()) return;
  QStringList masks;
  for (QString mask : FilterEdit->text().split(';', Qt::SkipEmptyParts)) {
    mask = mask.trimmed();
    // "*.*" means every file, those without an extension too.
    masks << (mask == "*.*" ? QString("*") : mask);
  }
  if (masks.isEmpty()) masks << "*";
  QDir dir(folder);
  dir.setNameFilters(masks);
  dir.setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
  dir.setSorting(QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
  QLocale locale;
  QList<QTreeWidgetItem*> items;
  for (const QFileInfo& info : dir.entryInfoList()) {
    auto* item = new QTreeWidgetItem;
    const bool isFolder = info.isDir();
    item->setText(0, info.fileName());
    item->setData(0, kFolderRole, isFolder);
    item->setIcon(0, style()->standardIcon(isFolder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
    if (!isFolder) {
      item->setText(1,
                    locale.formattedDataSize(info.size(), 1, QLocale::DataSizeTraditionalFormat));
      item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    item->setText(2, isFolder                  ? "Folder"
                     : info.suffix().isEmpty() ? "File"
                                               : info.suffix().toUpper() + " File");
    item->setText(3, locale.toString(info.lastModified(), QLocale::ShortFormat));
    items << item;
  }
  FileList->addTopLevelItems(items);
}

void TAddForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The folder's files may have changed while the dialog was away.
  fillFileList();
}

void TAddForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TAddForm::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  AddPaths(paths);
  event->acceptProposedAction();
}

}  // namespace quelt
