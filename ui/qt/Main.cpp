#include "ui/qt/TrellonApp.h"

namespace
{
CTrellonApp theApp;
} // namespace

int main(int argc, char** argv)
{
    return theApp.Run(argc, argv);
}
