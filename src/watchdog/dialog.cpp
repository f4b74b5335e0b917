// The low-memory dialog and the end of the browser.
#include <csignal>

#include "watchdog/watchdog.h"

namespace {

// A window manager may hold a short grab while it maps a window: about a
// second of retries before the holder is taken to be the stopped browser.
constexpr guint input_retry_ms = 50;
constexpr int input_patience = 20;

bool pointer_held;
bool keyboard_held;
int tries_left;

// Takes whichever of the pointer and the keyboard the dialog does not hold
// yet; true once it holds both. Events for the dialog's own windows reach
// them as usual (owner_events), everything else comes to the dialog.
bool take_input(GtkWidget *dialog)
{
    GdkWindow *window = dialog->window;
    if (!pointer_held)
        pointer_held = gdk_pointer_grab(window, TRUE,
                                        static_cast<GdkEventMask>(
                                            GDK_BUTTON_PRESS_MASK |
                                            GDK_BUTTON_RELEASE_MASK),
                                        nullptr, nullptr,
                                        GDK_CURRENT_TIME) == GDK_GRAB_SUCCESS;
    if (!keyboard_held)
        keyboard_held =
            gdk_keyboard_grab(window, TRUE, GDK_CURRENT_TIME) == GDK_GRAB_SUCCESS;
    return pointer_held && keyboard_held;
}

gboolean retry_input(gpointer dialog)
{
    if (take_input(static_cast<GtkWidget *>(dialog)))
        return FALSE;
    if (tries_left > 0 && --tries_left == 0 && frozen) {
        // Nobody can answer while the stopped browser holds the input, and
        // its grab ends only with its X connection: end it now. The dialog
        // stays as the notice and takes the input once it is free.
        g_print("%sinput held by another client, ending the browser now\n", prefix);
        end_browser();
    }
    return TRUE;
}

gboolean on_map(GtkWidget *dialog, GdkEvent *, gpointer)
{
    if (!take_input(dialog)) {
        tries_left = input_patience;
        g_timeout_add(input_retry_ms, retry_input, dialog);
    }
    return FALSE;
}

} // namespace

void show_dialog()
{
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
    g_signal_connect(dialog, "map-event", G_CALLBACK(on_map), nullptr);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

    g_print("%sshowing confirmation dialog\n", prefix);
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
}

void memory_error()
{
    // Freeze first: the browser must not grow while the dialog comes up.
    freeze_browser();
    show_dialog();
}

void do_ok(GtkWidget *, gint, gpointer)
{
    end_browser();
    gtk_main_quit();
}
