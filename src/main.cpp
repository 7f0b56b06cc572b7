#include "app/Application.h"

int main(int argc, char* argv[])
{
    return sondrel::app::runApplication(argc, argv);
}
