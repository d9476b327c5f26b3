#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

// The account chooser: one "Wechat User<n>" entry per account database found.
class TFormChatList final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormChatList)

public:
    explicit TFormChatList(int count, QWidget* parent = nullptr);

    QComboBox* cbbUser = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

// Shows the chooser modally for count accounts; the chosen 0-based index, or -1 on Cancel.
int ShowChatListForm(int count, QWidget* parent = nullptr);
