#include "app/myapplication.h"

int main(int argc, char *argv[])
{
    MyApplication app(argc, argv);
    return app.exec();
}
