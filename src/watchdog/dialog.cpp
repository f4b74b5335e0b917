// The low-memory dialog and the end of the browser.
#include <csignal>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

void memory_error()
{
    // Freeze first: the browser must not grow while the dialog comes up.
    signal_process(moz_pid, SIGSTOP);

    GtkWidget *dialog = gtk_dialog_new_with_buttons(
        "Error", nullptr,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_NO_SEPARATOR),
        GTK_STOCK_OK, GTK_RESPONSE_NONE, nullptr);

    GtkWidget *hbox = gtk_hbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(GTK_DIALOG(dialog)->vbox), hbox);

    GtkWidget *image =
        gtk_image_new_from_stock(GTK_STOCK_DIALOG_ERROR, GTK_ICON_SIZE_DIALOG);
    gtk_box_pack_start(GTK_BOX(hbox), image, FALSE, FALSE, 8);

    GtkWidget *label = gtk_label_new(
        "There is not sufficient memory for web browser.\n"
        "Try to increase size of swap file.");
    gtk_box_pack_start(GTK_BOX(hbox), label, FALSE, FALSE, 8);

    g_signal_connect_data(dialog, "response", G_CALLBACK(do_ok), dialog,
                          nullptr, G_CONNECT_SWAPPED);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

    g_print("%sshowing confirmation dialog\n", prefix);
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
}

void do_ok(GtkWidget *, gint, gpointer)
{
    // Continue before killing, so the kill is not left pending on a
    // stopped process.
    signal_process(moz_pid, SIGCONT);
    signal_process(moz_pid, SIGKILL);
    gtk_main_quit();
}
