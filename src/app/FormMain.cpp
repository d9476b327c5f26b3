#include "app/FormMain.h"

#include "backup/BackupInfo.h"
#include "util/Error.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

Q_DECLARE_METATYPE(TBackupInfo*)

TFormMain::TFormMain(TdmGlobal& dm, QWidget* parent) : QWidget(parent), m_dm(dm)
{
    setWindowTitle(tr("Ferrowick"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Select a backup:"), this));
    auto* row = new QHBoxLayout;
    cbbBackup = new QComboBox(this);
    cbbBackup->setObjectName(QStringLiteral("cbbBackup"));
    cbbBackup->setMinimumWidth(320);
    btnBrowse = new QPushButton(tr("Browse"), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    row->addWidget(cbbBackup, 1);
    row->addWidget(btnBrowse);
    layout->addLayout(row);
    layout->addStretch();
    connect(btnBrowse, &QPushButton::clicked, this, &TFormMain::btnBrowseClick);
    LoadBackupList();
}

TFormMain::~TFormMain() = default;

TBackupInfo* TFormMain::BackupInfo() const
{
    const int index = cbbBackup->currentIndex();
    return index < 0 ? nullptr : cbbBackup->itemData(index).value<TBackupInfo*>();
}

void TFormMain::addBackup(std::unique_ptr<TBackupInfo> info)
{
    cbbBackup->addItem(info->FDisplayName, QVariant::fromValue(info.get()));
    m_backups.push_back(std::move(info));
}

void TFormMain::LoadBackupList()
{
    for (auto& info : LoadBackupInfos(GetDefaultBackupDir()))
        addBackup(std::move(info));
    cbbBackup->setCurrentIndex(-1);
}

void TFormMain::btnBrowseClick()
{
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Specify Backup Information File"),
        QDir(GetDefaultBackupDir()).filePath(QStringLiteral("info.plist")), tr("Plist(*.plist)"));
    if (file.isEmpty())
        return;
    try {
        addBackup(std::make_unique<TBackupInfo>(QFileInfo(file).absolutePath()));
        cbbBackup->setCurrentIndex(cbbBackup->count() - 1);
    } catch (const Error&) {
        QMessageBox::information(this, windowTitle(), tr("no backup found!"));
    }
}
