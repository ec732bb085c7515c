// zorvanefortcp: the program a user starts.
#include "app/resources/resources.h"
#include "app/zorvanefortcpapp.h"
#include "platform/ui/resource.h"

int main(int argc, char** argv)
{
    // theApp, constructed before main, is the application the framework runs.
    if (AfxGetApp() != &theApp)
        return 1;
    AfxSetResourceModule(programResources());
    return AfxWinMain(argc, argv);
}
