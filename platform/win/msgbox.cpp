// MessageBoxA: a modal GTK dialog when a display is in use; otherwise the text goes to
// standard error and the default button answers at once.

#include "platform/win/msgbox.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace platform {
namespace {

std::function<int(const char*, const char*, UINT)>& Hook()
{
    static std::function<int(const char*, const char*, UINT)> hook;
    return hook;
}

struct Button {
    const char* label;
    int answer;
};

std::vector<Button> ButtonsOf(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{"_OK", IDOK}, {"_Cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE: return {{"_Abort", IDABORT}, {"_Retry", IDRETRY}, {"_Ignore", IDIGNORE}};
    case MB_YESNOCANCEL: return {{"_Yes", IDYES}, {"_No", IDNO}, {"_Cancel", IDCANCEL}};
    case MB_YESNO: return {{"_Yes", IDYES}, {"_No", IDNO}};
    case MB_RETRYCANCEL: return {{"_Retry", IDRETRY}, {"_Cancel", IDCANCEL}};
    default: return {{"_OK", IDOK}};
    }
}

int DefaultAnswer(UINT type)
{
    auto buttons = ButtonsOf(type);
    std::size_t index = (type & MB_DEFMASK) >> 8;
    return buttons[index < buttons.size() ? index : 0].answer;
}

// What closing the dialog without a button means, as on Windows: Cancel where there is
// one, OK for a lone OK; boxes without either cannot be dismissed that way.
int CloseAnswer(UINT type)
{
    for (const Button& b : ButtonsOf(type))
        if (b.answer == IDCANCEL)
            return IDCANCEL;
    return (type & MB_TYPEMASK) == MB_OK ? IDOK : 0;
}

GtkMessageType IconOf(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR: return GTK_MESSAGE_ERROR;
    case MB_ICONQUESTION: return GTK_MESSAGE_QUESTION;
    case MB_ICONWARNING: return GTK_MESSAGE_WARNING;
    case MB_ICONINFORMATION: return GTK_MESSAGE_INFO;
    default: return GTK_MESSAGE_OTHER;
    }
}

bool DisplayInUse()
{
    const char* choice = std::getenv("HALVORA_DISPLAY");
    if (choice && std::strcmp(choice, "offscreen") == 0)
        return false;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    static const bool ready = gtk_init_check(nullptr, nullptr);
    return ready;
}

int RunDialog(const char* text, const char* caption, UINT type)
{
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, IconOf(type), GTK_BUTTONS_NONE, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    // An owner-less box belongs in the middle of the screen, not wherever the server puts it.
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    for (const Button& b : ButtonsOf(type))
        gtk_dialog_add_button(GTK_DIALOG(dialog), b.label, b.answer);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), DefaultAnswer(type));
    int answer = 0;
    const int closeAnswer = CloseAnswer(type);
    do {
        answer = gtk_dialog_run(GTK_DIALOG(dialog));
        if (answer < 0)
            answer = closeAnswer;  // closed by the window manager or Escape
    } while (answer == 0);
    gtk_widget_destroy(dialog);
    while (gtk_events_pending())
        gtk_main_iteration();
    return answer;
}

}  // namespace

void SetMessageBoxHookForTests(std::function<int(const char*, const char*, UINT)> hook) { Hook() = std::move(hook); }

}  // namespace platform

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    using namespace platform;
    if (!text)
        text = "";
    if (!caption)
        caption = "Error";  // Windows' caption for a box without one
    if (Hook())
        return Hook()(text, caption, type);
    if (!DisplayInUse()) {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
        return DefaultAnswer(type);
    }
    return RunDialog(text, caption, type);
}
