#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "chat/ChatSchemes.h"
#include "util/WorkFolder.h"

int main(int argc, char* argv[])
{
    // The chat page's link schemes must be known before the application object exists.
    registerChatSchemes();
    TApplication app(argc, argv);
    // SIGINT and SIGTERM end the program as Close does, private copies removed.
    app.quitOnTerminationSignals();
    int result = 0;
    {
        TdmGlobal dmGlobal;
        TFormMain formMain(dmGlobal);
        formMain.show();
        result = app.exec();
    }
    TWorkFolder::removeAll();
    return result;
}
