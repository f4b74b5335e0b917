// The watchdog: start-up, then the main loop until the dialog is answered.
#include "watchdog/watchdog.h"

int main(int argc, char *argv[])
{
    start(argc, argv);
    gtk_main();
    return 0;
}
