#include "chat/FormChatList.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TFormChatList::TFormChatList(int count, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(355, 94);
    cbbUser = new QComboBox(this);
    for (int i = 1; i <= count; ++i)
        cbbUser->addItem(tr("Wechat User%1").arg(i));
    cbbUser->setCurrentIndex(count > 0 ? 0 : -1);
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

int ShowChatListForm(int count, QWidget* parent)
{
    TFormChatList form(count, parent);
    if (form.exec() != QDialog::Accepted)
        return -1;
    return form.cbbUser->currentIndex();
}
