#include "app/uMain.h"
#include "app/uUsage.h"

int main(int argc, char** argv)
{
    if (int status = 0; PrintInformation(argc, argv, status))
        return status;
    return HalvoraMain(argc, argv);
}
