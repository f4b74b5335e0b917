// The low-memory dialog and the end of the browser.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "watchdog/watchdog.h"

bool dialog_ready;

void choose_dialog(const char *value)
{
    dialog_ready = choice(value, "plain", "ready");
}

namespace {

// Built once: in advance when prepared, else at the act.
GtkWidget *low_memory_dialog;
bool shown;

// A window manager may hold a short grab while it maps a window: about a
// second of retries before the holder is taken to be the stopped browser,
// and another second for the browser's grab to go with it. A grab held
// after that is another client's: it is asked for once a second, for as
// long as that client keeps it, so that the dialog takes the input soon
// after it lets go without waking twenty times a second meanwhile.
constexpr guint input_retry_ms = 50;
constexpr guint input_retry_slow_ms = 1000;
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
    if (tries_left == 0 || --tries_left > 0)
        return TRUE;
    if (frozen) {
        // Nobody can answer while the stopped browser holds the input, and
        // its grab ends only with its X connection: end it now. The dialog
        // stays as the notice and takes the input once it is free.
        g_print("%sinput held by another client, ending the browser now\n", prefix);
        end_browser();
        tries_left = input_patience;
        return TRUE;
    }
    g_timeout_add(input_retry_slow_ms, retry_input, dialog);
    return FALSE;
}

gboolean on_map(GtkWidget *dialog, GdkEvent *, gpointer)
{
    if (!take_input(dialog)) {
        tries_left = input_patience;
        g_timeout_add(input_retry_ms, retry_input, dialog);
    }
    return FALSE;
}

GtkWidget *build_dialog()
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
    return dialog;
}

// Draws every label's text and every image of widget's tree on drawing,
// as the dialog would on its window: the glyphs are rendered and reach the
// X server now.
void draw_off_screen(GtkWidget *widget, gpointer drawing)
{
    auto *pixmap = static_cast<GdkPixmap *>(drawing);
    if (GTK_IS_LABEL(widget)) {
        GdkGC *pen = gdk_gc_new(pixmap);
        gdk_draw_layout(pixmap, pen, 0, 0, gtk_label_get_layout(GTK_LABEL(widget)));
        g_object_unref(pen);
    } else if (GTK_IS_IMAGE(widget) &&
               gtk_image_get_storage_type(GTK_IMAGE(widget)) == GTK_IMAGE_STOCK) {
        gchar *stock = nullptr;
        GtkIconSize size = GTK_ICON_SIZE_INVALID;
        gtk_image_get_stock(GTK_IMAGE(widget), &stock, &size);
        if (GdkPixbuf *icon = gtk_widget_render_icon(widget, stock, size, nullptr)) {
            gdk_draw_pixbuf(pixmap, nullptr, icon, 0, 0, 0, 0, -1, -1, GDK_RGB_DITHER_NORMAL,
                            0, 0);
            g_object_unref(icon);
        }
    }
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), draw_off_screen, drawing);
}

// Locks the mapping a line of /proc/self/maps describes if it is the
// program's own anonymous memory (the heap and the toolkit's allocations):
// as far as it is in RAM, and as it is faulted in later, never paging in
// the rest (Linux 4.4). Pages of files stay the kernel's to take back:
// they count as what the device has left, and a lock would take them out.
void lock_if_anonymous(char *line, void *)
{
    // start-end perms offset device inode [name]
    char *rest = nullptr;
    const unsigned long from = std::strtoul(line, &rest, 16);
    if (*rest != '-')
        return;
    const unsigned long to = std::strtoul(rest + 1, &rest, 16);
    char *perms = next_field(line);
    char *inode = next_field(next_field(next_field(perms)));
    if (perms == nullptr || inode == nullptr || perms[0] != 'r' || perms[1] != 'w' ||
        inode[0] != '0' || (inode[1] != ' ' && inode[1] != '\0') || to <= from)
        return;
    const char *name = next_field(inode);
    if (name != nullptr && *name != '\0' && std::strcmp(name, "[heap]") != 0)
        return;
#ifdef SYS_mlock2
    syscall(SYS_mlock2, from, to - from, MLOCK_ONFAULT);
#endif
}

// lock_if_anonymous for every mapping of the program. Refused locks (an
// older kernel, a lock limit the program is over) leave the memory as any
// program's.
void keep_anonymous_resident()
{
    read_lines(AT_FDCWD, "/proc/self/maps", file_buf, sizeof file_buf, lock_if_anonymous, nullptr);
}

} // namespace

void prepare_dialog()
{
    if (low_memory_dialog != nullptr || shown)
        return;
    low_memory_dialog = build_dialog();
    // Everything the window holds is shown, the window itself stays
    // unmapped: its size, its text's layout and its icon are worked out
    // now, and drawing it off screen loads the glyphs, on the X server
    // too.
    gtk_widget_show_all(GTK_DIALOG(low_memory_dialog)->vbox);
    gtk_widget_realize(low_memory_dialog);
    GtkRequisition size;
    gtk_widget_size_request(low_memory_dialog, &size);
    GdkPixmap *drawing = gdk_pixmap_new(low_memory_dialog->window, size.width, size.height, -1);
    draw_off_screen(low_memory_dialog, drawing);
    g_object_unref(drawing);
    keep_anonymous_resident();
}

void show_dialog()
{
    shown = true;
    if (low_memory_dialog == nullptr)
        low_memory_dialog = build_dialog();
    g_print("%sshowing confirmation dialog\n", prefix);
    gtk_widget_show_all(low_memory_dialog);
    gtk_window_present(GTK_WINDOW(low_memory_dialog));
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
