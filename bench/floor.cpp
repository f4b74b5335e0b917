// The floor for footprint figures: a GTK+ 2 program that only starts the
// toolkit and runs the main loop, as the watchdog does while it waits.
#include <gtk/gtk.h>

int main(int argc, char *argv[])
{
    gtk_set_locale();
    gtk_init(&argc, &argv);
    gtk_main();
    return 0;
}
