#pragma once

#include <QWidget>

#include <memory>
#include <vector>

class QComboBox;
class QPushButton;
class TBackupInfo;
class TdmGlobal;

// Start page of the main window: the backup list and Browse.
class TFormMain final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormMain)

public:
    explicit TFormMain(TdmGlobal& dm, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The backup of the selected list entry, or nullptr when none is selected.
    TBackupInfo* BackupInfo() const;

    QComboBox* cbbBackup = nullptr;
    QPushButton* btnBrowse = nullptr;

public slots:
    void btnBrowseClick();

private:
    void LoadBackupList();
    void addBackup(std::unique_ptr<TBackupInfo> info);

    TdmGlobal& m_dm;
    std::vector<std::unique_ptr<TBackupInfo>> m_backups; // owned; combo items point into it
};
