// Saves the whole screen of $DISPLAY as a PNG: screenshot FILE.png
#include <gtk/gtk.h>

int main(int argc, char *argv[])
{
    gtk_init(&argc, &argv);
    if (argc != 2) {
        g_printerr("usage: screenshot FILE.png\n");
        return 2;
    }
    GdkWindow *root = gdk_get_default_root_window();
    gint width = 0;
    gint height = 0;
    gdk_drawable_get_size(root, &width, &height);
    GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(
        nullptr, root, nullptr, 0, 0, 0, 0, width, height);
    GError *error = nullptr;
    if (shot == nullptr || !gdk_pixbuf_save(shot, argv[1], "png", &error, nullptr)) {
        g_printerr("screenshot: %s\n", error ? error->message : "cannot read the screen");
        return 1;
    }
    return 0;
}
