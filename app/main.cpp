#include "app/uMain.h"

int main(int argc, char** argv)
{
    return HalvoraMain(argc, argv);
}
