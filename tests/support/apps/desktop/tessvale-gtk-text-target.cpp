// A GTK 3 text target: one focused entry (or a text view with --multiline) whose content is written
// (UTF-8) to the report file after every change.
//
//   tessvale-gtk-text-target --report FILE [--title TITLE] [--multiline]
//
// Prints "READY <window id>" on stdout once the window has the keyboard focus.
#include <cstdio>
#include <cstring>
#include <string>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace {

std::string reportPath;
bool announced = false;

void writeReport(const char* text)
{
    const std::string temporary = reportPath + ".tmp";
    if (FILE* file = std::fopen(temporary.c_str(), "wb")) {
        std::fwrite(text, 1, std::strlen(text), file);
        std::fclose(file);
        std::rename(temporary.c_str(), reportPath.c_str());
    }
}

void entryChanged(GtkEditable* editable, gpointer)
{
    gchar* text = gtk_editable_get_chars(editable, 0, -1);
    writeReport(text);
    g_free(text);
}

void bufferChanged(GtkTextBuffer* buffer, gpointer)
{
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    writeReport(text);
    g_free(text);
}

gboolean focusIn(GtkWidget* window, GdkEvent*, gpointer)
{
    if (!announced) {
        announced = true;
        std::printf("READY %lu\n", static_cast<unsigned long>(GDK_WINDOW_XID(gtk_widget_get_window(window))));
        std::fflush(stdout);
    }
    return FALSE;
}

} // namespace

int main(int argc, char** argv)
{
    gdk_set_allowed_backends("x11");
    gtk_init(&argc, &argv);
    std::string title = "Tessvale GTK Target";
    bool multiline = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--report") == 0 && i + 1 < argc)
            reportPath = argv[++i];
        else if (std::strcmp(argv[i], "--title") == 0 && i + 1 < argc)
            title = argv[++i];
        else if (std::strcmp(argv[i], "--multiline") == 0)
            multiline = true;
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 200);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    GtkWidget* field = nullptr;
    if (multiline) {
        field = gtk_text_view_new();
        g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(field)), "changed", G_CALLBACK(bufferChanged), nullptr);
    } else {
        field = gtk_entry_new();
        g_signal_connect(field, "changed", G_CALLBACK(entryChanged), nullptr);
    }
    gtk_container_add(GTK_CONTAINER(window), field);
    if (!reportPath.empty())
        writeReport("");
    g_signal_connect(window, "focus-in-event", G_CALLBACK(focusIn), nullptr);
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(field);
    gtk_window_present(GTK_WINDOW(window));
    gtk_main();
    return 0;
}
