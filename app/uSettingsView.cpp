// The settings dialog shown with GTK 3: it mirrors TForm1's controls and forwards every user
// action to it. Nothing here decides anything.
#include <gtk/gtk.h>

#include <cstdio>
#include <map>
#include <memory>

#include "app/uSettings.h"
#include "app/uSettingsHook.h"
#include "platform/display/display.h"

namespace {

class TSettingsView {
public:
    explicit TSettingsView(TForm1& form) : form_(form) {}

    void Build();
    void Run();

private:
    static GtkWidget* Frame(const char* caption);
    GtkWidget* Combo(bool editable);
    GtkWidget* Column(int x, int y, int w, int h);
    void Place(GtkWidget* into, GtkWidget* widget, int x, int y, int w, int h);
    void Refresh();
    void FillCombo(GtkWidget* combo, const TListControl& list, bool editable);
    std::map<GtkWidget*, std::vector<std::string>> shownItems_;
    void Finish() { gtk_main_quit(); }

    // signal handlers
    static void OnCustom(GtkButton* b, gpointer self);
    static void OnDesktop(GtkButton* b, gpointer self);
    static void OnMode(GtkComboBox* c, gpointer self);
    static void OnDepth(GtkComboBox* c, gpointer self);
    static void OnRate(GtkComboBox* c, gpointer self);
    static void OnAdvanced(GtkToggleButton* b, gpointer self);
    static void OnSpiralType(GtkComboBox* c, gpointer self);
    static void OnSpiralCount(GtkComboBox* c, gpointer self);
    static void OnBlendMode(GtkComboBox* c, gpointer self);
    static void OnOk(GtkButton*, gpointer self);
    static void OnCancel(GtkButton*, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnMap(GtkWidget*, GdkEvent*, gpointer self);

    TForm1& form_;
    bool refreshing_ = false;
    GtkWidget* window_ = nullptr;
    GtkWidget* fixed_ = nullptr;
    GtkWidget *rbCustom_ = nullptr, *rbDesktop_ = nullptr, *rbNeither_ = nullptr, *cbAdvanced_ = nullptr;
    GtkWidget *mode_ = nullptr, *depth_ = nullptr, *rate_ = nullptr;
    GtkWidget *spiralType_ = nullptr, *spiralCount_ = nullptr, *blendMode_ = nullptr;
    GtkWidget *label1_ = nullptr, *label2_ = nullptr, *label3_ = nullptr;
    GtkWidget *ok_ = nullptr, *cancel_ = nullptr;
};

const char* kCompactStyle =
    "* { font-size: 9pt; }"
    "combobox button, combobox entry, button { min-height: 18px; padding-top: 1px; padding-bottom: 1px; }"
    "entry { min-height: 18px; padding-top: 0px; padding-bottom: 0px; }"
    "frame > label { margin: 0px; }";

TSettingsView* FromData(gpointer p) { return static_cast<TSettingsView*>(p); }

int ActiveIndex(GtkComboBox* combo) { return gtk_combo_box_get_active(combo); }

std::string EntryText(GtkComboBox* combo)
{
    GtkWidget* entry = gtk_bin_get_child(GTK_BIN(combo));
    return entry ? gtk_entry_get_text(GTK_ENTRY(entry)) : std::string();
}

}  // namespace

GtkWidget* TSettingsView::Frame(const char* caption)
{
    GtkWidget* frame = gtk_frame_new(caption);
    return frame;
}

GtkWidget* TSettingsView::Combo(bool editable)
{
    return editable ? gtk_combo_box_text_new_with_entry() : gtk_combo_box_text_new();
}

GtkWidget* TSettingsView::Column(int x, int y, int w, int h)
{
    GtkWidget* column = gtk_fixed_new();
    Place(fixed_, column, x, y, w, h);
    return column;
}

// Positions are the dialog's client coordinates whatever container holds the widget.
void TSettingsView::Place(GtkWidget* into, GtkWidget* widget, int x, int y, int w, int h)
{
    int originX = 0, originY = 0;
    if (into != fixed_)
        gtk_container_child_get(GTK_CONTAINER(fixed_), into, "x", &originX, "y", &originY, nullptr);
    gtk_widget_set_size_request(widget, w, h);
    gtk_fixed_put(GTK_FIXED(into), widget, x - originX, y - originY);
}

void TSettingsView::Build()
{
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kCompactStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "Options");
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    fixed_ = gtk_fixed_new();
    gtk_widget_set_size_request(fixed_, TForm1::ClientWidth, TForm1::ClientHeight);
    gtk_container_add(GTK_CONTAINER(window_), fixed_);

    // Each column is its own container so Tab walks down one column before the next.
    GtkWidget* left = Column(0, 0, 160, 154);
    Place(left, Frame("Settings"), 4, 2, 154, 44);
    rbCustom_ = gtk_radio_button_new_with_label(nullptr, "Custom");
    rbDesktop_ = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(rbCustom_), "Desktop");
    // A group always has one button on: this one, never shown, stands for neither preset.
    rbNeither_ = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(rbCustom_));
    gtk_widget_set_no_show_all(rbNeither_, TRUE);
    Place(left, rbCustom_, 8, 20, 72, 22);
    Place(left, rbDesktop_, 82, 20, 72, 22);
    Place(left, rbNeither_, 8, 20, 1, 1);

    Place(left, Frame("Screen mode"), 4, 48, 154, 104);
    mode_ = Combo(false);
    depth_ = Combo(false);
    rate_ = Combo(false);
    Place(left, mode_, 10, 66, 142, 26);
    Place(left, depth_, 10, 94, 142, 26);
    Place(left, rate_, 10, 122, 142, 26);

    GtkWidget* right = Column(160, 0, 199, 154);
    Place(right, Frame(nullptr), 162, 2, 193, 150);
    cbAdvanced_ = gtk_check_button_new_with_label("Advanced options");
    Place(right, cbAdvanced_, 170, 8, 178, 22);
    label1_ = gtk_label_new("Spiral type:");
    label2_ = gtk_label_new("Spiral count:");
    label3_ = gtk_label_new("Blend mode:");
    for (GtkWidget* label : {label1_, label2_, label3_})
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    spiralType_ = Combo(true);
    spiralCount_ = Combo(true);
    blendMode_ = Combo(true);
    Place(right, label1_, 170, 38, 78, 26);
    Place(right, spiralType_, 250, 38, 98, 26);
    Place(right, label2_, 170, 74, 78, 26);
    Place(right, spiralCount_, 250, 74, 98, 26);
    Place(right, label3_, 170, 110, 78, 26);
    Place(right, blendMode_, 250, 110, 98, 26);
    // The entries' own minimum would push the boxes past the dialog's right edge.
    for (GtkWidget* combo : {spiralType_, spiralCount_, blendMode_})
        gtk_entry_set_width_chars(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))), 4);

    ok_ = gtk_button_new_with_label("Ok");
    cancel_ = gtk_button_new_with_label("Cancel");
    Place(fixed_, ok_, 196, 158, 76, 26);
    Place(fixed_, cancel_, 278, 158, 76, 26);

    // Clicks, not toggles: clicking the button already on must still apply its preset.
    g_signal_connect(rbCustom_, "clicked", G_CALLBACK(OnCustom), this);
    g_signal_connect(rbDesktop_, "clicked", G_CALLBACK(OnDesktop), this);
    g_signal_connect(mode_, "changed", G_CALLBACK(OnMode), this);
    g_signal_connect(depth_, "changed", G_CALLBACK(OnDepth), this);
    g_signal_connect(rate_, "changed", G_CALLBACK(OnRate), this);
    g_signal_connect(cbAdvanced_, "toggled", G_CALLBACK(OnAdvanced), this);
    g_signal_connect(spiralType_, "changed", G_CALLBACK(OnSpiralType), this);
    g_signal_connect(spiralCount_, "changed", G_CALLBACK(OnSpiralCount), this);
    g_signal_connect(blendMode_, "changed", G_CALLBACK(OnBlendMode), this);
    g_signal_connect(ok_, "clicked", G_CALLBACK(OnOk), this);
    g_signal_connect(cancel_, "clicked", G_CALLBACK(OnCancel), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(window_, "map-event", G_CALLBACK(OnMap), this);

    Refresh();
    gtk_widget_show_all(window_);
    gtk_widget_grab_focus(ok_);
}

void TSettingsView::FillCombo(GtkWidget* combo, const TListControl& list, bool editable)
{
    // Rebuilding only what differs keeps the caret where the user is typing.
    std::vector<std::string>& shown = shownItems_[combo];
    if (shown != list.Items) {
        gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(combo));
        for (const std::string& item : list.Items)
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), item.c_str());
        shown = list.Items;
    }
    if (gtk_combo_box_get_active(GTK_COMBO_BOX(combo)) != list.ItemIndex && (list.ItemIndex >= 0 || !editable))
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo), list.ItemIndex);
    if (editable && EntryText(GTK_COMBO_BOX(combo)) != list.Text)
        gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))), list.Text.c_str());
    gtk_widget_set_sensitive(combo, list.Enabled);
}

// Mirrors the model into the widgets; the handlers ignore the signals this raises.
void TSettingsView::Refresh()
{
    refreshing_ = true;
    gtk_window_set_title(GTK_WINDOW(window_), form_.Caption().c_str());
    // Only switching a button on moves the group's choice.
    GtkWidget* preset = form_.rbCustom.Checked ? rbCustom_ : form_.rbDesktop.Checked ? rbDesktop_ : rbNeither_;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(preset), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(cbAdvanced_), form_.cbAdvancedOptions.Checked);
    FillCombo(mode_, form_.ModeListBox, false);
    FillCombo(depth_, form_.PixelDepthBox, false);
    FillCombo(rate_, form_.RefreshRateBox, false);
    FillCombo(spiralType_, form_.SpiralType, true);
    FillCombo(spiralCount_, form_.SpiralCount, true);
    FillCombo(blendMode_, form_.BlendMode, true);
    gtk_widget_set_sensitive(label1_, form_.Label1Enabled);
    gtk_widget_set_sensitive(label2_, form_.Label2Enabled);
    gtk_widget_set_sensitive(label3_, form_.Label3Enabled);
    refreshing_ = false;
}

void TSettingsView::Run()
{
    Build();
    gtk_main();
    gtk_widget_destroy(window_);
    while (gtk_events_pending())
        gtk_main_iteration();
}

#define HANDLER_GUARD                   \
    TSettingsView* view = FromData(self); \
    if (view->refreshing_)              \
        return;

// The group also "clicks" the button it switches off; only the one left on was clicked.
void TSettingsView::OnCustom(GtkButton* b, gpointer self)
{
    HANDLER_GUARD
    if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b)))
        return;
    view->form_.ClickCustom();
    view->Refresh();
}

void TSettingsView::OnDesktop(GtkButton* b, gpointer self)
{
    HANDLER_GUARD
    if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b)))
        return;
    view->form_.ClickDesktop();
    view->Refresh();
}

void TSettingsView::OnMode(GtkComboBox* c, gpointer self)
{
    HANDLER_GUARD
    view->form_.SelectResolution(ActiveIndex(c));
    view->Refresh();
}

void TSettingsView::OnDepth(GtkComboBox* c, gpointer self)
{
    HANDLER_GUARD
    view->form_.SelectDepth(ActiveIndex(c));
    view->Refresh();
}

void TSettingsView::OnRate(GtkComboBox* c, gpointer self)
{
    HANDLER_GUARD
    view->form_.SelectRefreshRate(ActiveIndex(c));
    view->Refresh();
}

void TSettingsView::OnAdvanced(GtkToggleButton* b, gpointer self)
{
    HANDLER_GUARD
    view->form_.SetAdvancedOptions(gtk_toggle_button_get_active(b));
    view->Refresh();
}

// Editable boxes: a picked item and typed text both arrive as "changed".
void TSettingsView::OnSpiralType(GtkComboBox* c, gpointer self)
{
    HANDLER_GUARD
    view->form_.TypeSpiralType(EntryText(c));
    view->Refresh();
}

void TSettingsView::OnSpiralCount(GtkComboBox* c, gpointer self)
{
    HANDLER_GUARD
    view->form_.TypeSpiralCount(EntryText(c));
    view->Refresh();
}

void TSettingsView::OnBlendMode(GtkComboBox* c, gpointer self)
{
    HANDLER_GUARD
    view->form_.TypeBlendMode(EntryText(c));
    view->Refresh();
}

void TSettingsView::OnOk(GtkButton*, gpointer self)
{
    TSettingsView* view = FromData(self);
    if (view->form_.ClickOk())
        view->Finish();
    else
        view->Refresh();
}

void TSettingsView::OnCancel(GtkButton*, gpointer self)
{
    TSettingsView* view = FromData(self);
    if (view->form_.ClickCancel())
        view->Finish();
    else
        view->Refresh();
}

gboolean TSettingsView::OnDelete(GtkWidget*, GdkEvent*, gpointer self)
{
    TSettingsView* view = FromData(self);
    if (view->form_.RequestClose())
        view->Finish();
    else
        view->Refresh();
    return TRUE;  // the view destroys the window itself once the loop ends
}

// The whole form is painted afresh when it is shown or restored; GTK redraws it on every
// control change too, so only these count as the form's repaint.
gboolean TSettingsView::OnMap(GtkWidget*, GdkEvent*, gpointer self)
{
    TSettingsView* view = FromData(self);
    view->form_.Repaint();
    gtk_window_set_title(GTK_WINDOW(view->window_), view->form_.Caption().c_str());
    return FALSE;
}

gboolean TSettingsView::OnKey(GtkWidget*, GdkEventKey* event, gpointer self)
{
    TSettingsView* view = FromData(self);
    if (event->keyval == GDK_KEY_F1) {
        view->form_.Help();
        return FALSE;
    }
    if (event->keyval == GDK_KEY_Escape) {
        if (view->form_.RequestClose())
            view->Finish();
        return TRUE;
    }
    return FALSE;
}

bool RunSettingsDialog()
{
    if (std::string(platform::display::Current().Name()) != "x11" || !gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "halvora: the settings dialog needs a display; nothing was changed\n");
        return false;
    }
    auto ask = [](const std::string& text, UINT type) {
        const char* caption = (type & MB_ICONMASK) == MB_ICONQUESTION ? "Confirmation" : "Information";
        return MessageBoxA(nullptr, text.c_str(), caption, type);
    };
    TForm1 form(ask);
    std::unique_ptr<TDialogAdapter> adapter = CreateSystemAdapter();
    if (form.Open(*adapter)) {
        TSettingsView view(form);
        view.Run();
    }
    return true;
}
