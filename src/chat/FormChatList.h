#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QPushButton;

// The account chooser: one entry per account database found, showing the account's name.
class TFormChatList final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormChatList)

public:
    explicit TFormChatList(const QStringList& accounts, QWidget* parent = nullptr);

    QComboBox* cbbUser = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

// Shows the chooser modally for the named accounts; the chosen 0-based index, or -1 on Cancel.
int ShowChatListForm(const QStringList& accounts, QWidget* parent = nullptr);
