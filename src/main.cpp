#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "chat/ChatSchemes.h"

int main(int argc, char* argv[])
{
    // The chat page's link schemes must be known before the application object exists.
    registerChatSchemes();
    TApplication app(argc, argv);
    TdmGlobal dmGlobal;
    TFormMain formMain(dmGlobal);
    formMain.show();
    return app.exec();
}
