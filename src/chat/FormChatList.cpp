#include "chat/FormChatList.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TFormChatList::TFormChatList(const QStringList& accounts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(tr("Choose a WeChat account"));
    setFixedSize(355, 94);
    cbbUser = new QComboBox(this);
    cbbUser->addItems(accounts);
    cbbUser->setCurrentIndex(accounts.isEmpty() ? -1 : 0);
    btnOk = new QPushButton(tr("Ok"), this);
    btnCancel = new QPushButton(tr("Cancel"), this);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cbbUser);
    layout->addLayout(buttons);
}

int ShowChatListForm(const QStringList& accounts, QWidget* parent)
{
    TFormChatList form(accounts, parent);
    if (form.exec() != QDialog::Accepted)
        return -1;
    return form.cbbUser->currentIndex();
}
