#include "WindowDefinition.h"

int main(int argc, char **argv)
{
    return quillora::app::applicationMain(argc, argv);
}
