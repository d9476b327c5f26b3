#include "app/DmGlobal.h"
#include "app/FormMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TdmGlobal dmGlobal;
    TFormMain formMain(dmGlobal);
    formMain.show();
    return app.exec();
}
