#include "standin.h"

int main(int argc, char *argv[])
{
    return StandIn::runMain(argc, argv);
}
