#include "app/myapplication.h"
#include "platform/platform.h"

int main(int argc, char *argv[])
{
    Platform::prepareProcess();
    MyApplication app(argc, argv);
    return app.exec();
}
