#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TdmGlobal dmGlobal;
    TFormMain formMain(dmGlobal);
    formMain.show();
    return app.exec();
}
