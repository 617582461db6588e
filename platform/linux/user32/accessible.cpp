/*
 * accessible.cpp - the dialog and its controls as ATK objects: an
 * application named after the program holding the dialog, the dialog
 * holding its push buttons and radio buttons (the labels name the radio
 * buttons below them rather than standing apart), with their roles,
 * states, places on the screen, one action each ("click", which presses a
 * button as the mouse does) and, for the radio buttons, their group. ATK's
 * bridge (libatk-bridge, opened only when there is a bus to join) serves
 * them over AT-SPI from GLib's main context, which the message loop runs.
 */
#include "platform/linux/user32/accessible.h"

#include <atk/atk.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace strellan {

namespace {

constexpr const char* kBridgeLibrary = "libatk-bridge-2.0.so.0";
constexpr const char* kToolkitName = "Strellan";

bool g_asked = false; /* whether to join: once */
bool g_started = false;
AtkObject* g_application = nullptr;
std::map<HWND, AtkObject*> g_objects;
/* Every dialog, so that a bus joined late shows those already up. */
std::vector<HWND> g_dialogs;

/* One type for the application and every window: the instance knows its
   window (none for the application). */
struct Accessible {
    AtkObject parent;
    HWND hwnd;
};

struct AccessibleClass {
    AtkObjectClass parent;
};

gpointer g_parentClass = nullptr;

HWND WindowOf(gconstpointer object)
{
    return static_cast<const Accessible*>(object)->hwnd;
}

/* What a control is, as the dialog manager learns it: by asking. */
LRESULT DialogCode(HWND h)
{
    return IsWindow(h) ? SendMessageA(h, WM_GETDLGCODE, 0, 0) : 0;
}

bool IsButton(HWND h)
{
    return DialogCode(h) & DLGC_BUTTON;
}

bool IsPushButton(HWND h)
{
    return DialogCode(h) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
}

bool IsRadioButton(HWND h)
{
    return DialogCode(h) & DLGC_RADIOBUTTON;
}

/* The radio buttons of h's group, h among them, in the dialog's order. */
std::vector<HWND> RadioGroup(HWND h)
{
    const HWND hDlg = GetParent(h);
    const std::vector<HWND> siblings = ChildWindows(hDlg);
    std::vector<HWND> group;
    if (!hDlg || !IsRadioButton(h))
        return group;
    HWND other = h;
    for (size_t step = 0; step < siblings.size(); ++step) {
        if (IsRadioButton(other))
            group.push_back(other);
        other = GetNextDlgGroupItem(hDlg, other, FALSE);
        if (other == h)
            break;
    }
    auto place = [&siblings](HWND c) {
        return std::find(siblings.begin(), siblings.end(), c) - siblings.begin();
    };
    std::sort(group.begin(), group.end(), [&](HWND a, HWND b) { return place(a) < place(b); });
    return group;
}

AtkAttribute* NewAttribute(const char* name, std::size_t value)
{
    auto* a = static_cast<AtkAttribute*>(g_malloc(sizeof(AtkAttribute)));
    a->name = g_strdup(name);
    a->value = g_strdup_printf("%zu", value);
    return a;
}

/* A radio button's place in its group, as the object attributes that
   every Orca reads first ("3 of 8"), counting from 1. */
AtkAttributeSet* GetAttributes(AtkObject* object)
{
    auto* parent = ATK_OBJECT_CLASS(g_parentClass);
    AtkAttributeSet* attributes = parent->get_attributes ? parent->get_attributes(object) : nullptr;
    const HWND h = WindowOf(object);
    const std::vector<HWND> group = RadioGroup(h);
    const auto at = std::find(group.begin(), group.end(), h);
    if (at == group.end())
        return attributes;
    attributes = g_slist_append(
        attributes, NewAttribute("posinset", static_cast<std::size_t>(at - group.begin()) + 1));
    return g_slist_append(attributes, NewAttribute("setsize", group.size()));
}

/* What a screen reader is shown of a dialog: its buttons, in tab order;
   and of the application, its dialogs. */
std::vector<HWND> Children(HWND hwnd)
{
    std::vector<HWND> children;
    if (!hwnd) {
        for (const auto& [window, object] : g_objects)
            if (IsWindow(window) && !GetParent(window))
                children.push_back(window);
        return children;
    }
    for (HWND child : ChildWindows(hwnd))
        if (g_objects.count(child))
            children.push_back(child);
    return children;
}

gint GetNChildren(AtkObject* object)
{
    return static_cast<gint>(Children(WindowOf(object)).size());
}

AtkObject* RefChild(AtkObject* object, gint i)
{
    std::vector<HWND> children = Children(WindowOf(object));
    if (i < 0 || static_cast<std::size_t>(i) >= children.size())
        return nullptr;
    return ATK_OBJECT(g_object_ref(g_objects[children[static_cast<std::size_t>(i)]]));
}

gint GetIndexInParent(AtkObject* object)
{
    HWND hwnd = WindowOf(object);
    if (!IsWindow(hwnd))
        return -1;
    std::vector<HWND> siblings = Children(GetParent(hwnd));
    for (std::size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i] == hwnd)
            return static_cast<gint>(i);
    return -1;
}

AtkStateSet* RefStateSet(AtkObject* object)
{
    AtkStateSet* states = ATK_OBJECT_CLASS(g_parentClass)->ref_state_set(object);
    const HWND h = WindowOf(object);
    if (!IsWindow(h))
        return states;
    if (IsWindowEnabled(h)) {
        atk_state_set_add_state(states, ATK_STATE_ENABLED);
        atk_state_set_add_state(states, ATK_STATE_SENSITIVE);
    }
    if (IsWindowVisible(h)) {
        atk_state_set_add_state(states, ATK_STATE_VISIBLE);
        atk_state_set_add_state(states, ATK_STATE_SHOWING);
    }
    const bool control = GetParent(h) != nullptr;
    if (!control && GetActiveWindow() == h)
        atk_state_set_add_state(states, ATK_STATE_ACTIVE);
    if (control) {
        atk_state_set_add_state(states, ATK_STATE_FOCUSABLE);
        if (GetFocus() == h)
            atk_state_set_add_state(states, ATK_STATE_FOCUSED);
    }
    if (IsRadioButton(h)) {
        atk_state_set_add_state(states, ATK_STATE_CHECKABLE);
        if (SendMessageA(h, BM_GETCHECK, 0, 0) == BST_CHECKED)
            atk_state_set_add_state(states, ATK_STATE_CHECKED);
    }
    return states;
}

/* Where the window is: on the screen, in its top-level window, or in its
   parent. */
void GetExtents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height,
                AtkCoordType coords)
{
    *x = *y = *width = *height = -1;
    const HWND h = WindowOf(component);
    RECT r;
    if (!GetWindowRect(h, &r))
        return;
    const HWND parent = GetParent(h);
    /* A control's top-level window is its parent, the dialog. */
    const HWND origin = coords == ATK_XY_SCREEN ? nullptr : parent ? parent : h;
    RECT o{};
    if (origin)
        GetWindowRect(origin, &o);
    *x = r.left - o.left;
    *y = r.top - o.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
}

gboolean GrabFocus(AtkComponent* component)
{
    const HWND h = WindowOf(component);
    if (!IsWindow(h) || !GetParent(h))
        return FALSE;
    SetFocus(h);
    return GetFocus() == h;
}

void InitComponent(gpointer iface, gpointer)
{
    auto* component = static_cast<AtkComponentIface*>(iface);
    component->get_extents = GetExtents;
    component->grab_focus = GrabFocus;
}

/* One action, "click": the button is pressed as the mouse presses it, by
   a posted BM_CLICK, so that what it sets going (Exit included) runs from
   the message loop as a click's would, not from inside the bus's call. */
gint GetNActions(AtkAction* action)
{
    return IsButton(WindowOf(action)) ? 1 : 0;
}

gboolean DoAction(AtkAction* action, gint i)
{
    const HWND h = WindowOf(action);
    if (!IsButton(h) || i != 0)
        return FALSE;
    PostMessage(h, BM_CLICK, 0, 0);
    return TRUE;
}

const gchar* GetActionName(AtkAction*, gint i)
{
    return i == 0 ? "click" : nullptr;
}

const gchar* GetActionDescription(AtkAction* action, gint i)
{
    const HWND h = WindowOf(action);
    if (!IsButton(h) || i != 0)
        return nullptr;
    return IsRadioButton(h) ? "Chooses the string" : "Presses the button";
}

void InitAction(gpointer iface, gpointer)
{
    auto* a = static_cast<AtkActionIface*>(iface);
    a->get_n_actions = GetNActions;
    a->do_action = DoAction;
    a->get_name = GetActionName;
    a->get_description = GetActionDescription;
}

void InitClass(gpointer klass, gpointer)
{
    g_parentClass = g_type_class_peek_parent(klass);
    auto* object = ATK_OBJECT_CLASS(klass);
    object->get_n_children = GetNChildren;
    object->ref_child = RefChild;
    object->get_index_in_parent = GetIndexInParent;
    object->ref_state_set = RefStateSet;
    object->get_attributes = GetAttributes;
}

GType AccessibleType()
{
    static GType type = 0;
    if (type)
        return type;
    GTypeInfo info{};
    info.class_size = sizeof(AccessibleClass);
    info.class_init = InitClass;
    info.instance_size = sizeof(Accessible);
    type = g_type_register_static(ATK_TYPE_OBJECT, "StrellanAccessible", &info, GTypeFlags(0));
    const GInterfaceInfo component = {InitComponent, nullptr, nullptr};
    const GInterfaceInfo action = {InitAction, nullptr, nullptr};
    const GInterfaceInfo window = {nullptr, nullptr, nullptr};
    g_type_add_interface_static(type, ATK_TYPE_COMPONENT, &component);
    g_type_add_interface_static(type, ATK_TYPE_ACTION, &action);
    g_type_add_interface_static(type, ATK_TYPE_WINDOW, &window);
    return type;
}

AtkObject* NewAccessible(HWND hwnd, AtkRole role, const std::string& name, AtkObject* parent)
{
    auto* object = ATK_OBJECT(g_object_new(AccessibleType(), nullptr));
    reinterpret_cast<Accessible*>(object)->hwnd = hwnd;
    atk_object_set_role(object, role);
    atk_object_set_name(object, name.c_str());
    if (parent)
        atk_object_set_parent(object, parent);
    return object;
}

/* A control without text is named, as Windows' accessibility layer names
   it, by the label that goes with it: here the label above it, overlapping
   it across; else the nearest label before it in creation order. */
std::string NameOf(HWND control)
{
    if (std::string text = GetWindowTextString(control); !text.empty())
        return text;
    RECT c;
    GetWindowRect(control, &c);
    std::string best, before;
    LONG bestBottom = 0;
    for (HWND other : ChildWindows(GetParent(control))) {
        if (other == control)
            break;
        std::string text = GetWindowTextString(other);
        if (!(DialogCode(other) & DLGC_STATIC) || text.empty())
            continue;
        RECT a;
        GetWindowRect(other, &a);
        const bool above = a.bottom <= c.top;
        const bool across = a.left < c.right && c.left < a.right;
        if (above && across && (best.empty() || a.bottom > bestBottom)) {
            best = text;
            bestBottom = a.bottom;
        }
        before = std::move(text);
    }
    return best.empty() ? before : best;
}

/* ATK asks these of the toolkit. */
AtkObject* GetRoot()
{
    return g_application;
}

const gchar* GetToolkitName()
{
    return kToolkitName;
}

const gchar* GetToolkitVersion()
{
    return "1";
}

void Notify(HWND hwnd, AtkStateType state, bool on)
{
    auto it = g_objects.find(hwnd);
    if (it != g_objects.end())
        atk_object_notify_state_change(it->second, state, on);
}

/* The dialog and its controls, shown on the bus. */
void ShowDialog(HWND hDlg)
{
    if (!IsWindow(hDlg))
        return;
    AtkObject* dialog =
        NewAccessible(hDlg, ATK_ROLE_DIALOG, GetWindowTextString(hDlg), g_application);
    g_objects[hDlg] = dialog;
    std::vector<AtkObject*> radios;
    for (HWND h : ChildWindows(hDlg)) {
        if (IsPushButton(h))
            g_objects[h] = NewAccessible(h, ATK_ROLE_PUSH_BUTTON, NameOf(h), dialog);
        else if (IsRadioButton(h))
            radios.push_back(g_objects[h] =
                                 NewAccessible(h, ATK_ROLE_RADIO_BUTTON, NameOf(h), dialog));
    }
    /* Each radio button a member of its group with every other, the group
       listed last button first: GTK lists a radio group so, and Orca 43
       counts a button's place in it ("3 of 8") from the end. */
    for (AtkObject* radio : radios) {
        std::vector<HWND> group = RadioGroup(WindowOf(radio));
        for (auto member = group.rbegin(); member != group.rend(); ++member)
            if (g_objects.count(*member))
                atk_object_add_relationship(radio, ATK_RELATION_MEMBER_OF, g_objects[*member]);
    }
    g_signal_emit_by_name(g_application, "children-changed::add", 0, dialog);
}

/* The bridge opened and the bus joined; the dialogs already up shown
   there, the focus where it is. */
void JoinBus()
{
    void* bridge = dlopen(kBridgeLibrary, RTLD_NOW | RTLD_LOCAL);
    auto init =
        bridge ? reinterpret_cast<int (*)(int*, char***)>(dlsym(bridge, "atk_bridge_adaptor_init"))
               : nullptr;
    if (!init) {
        std::fprintf(stderr, "strellan: cannot open %s: no screen reader will see the window\n",
                     kBridgeLibrary);
        return;
    }
    auto* util = ATK_UTIL_CLASS(g_type_class_ref(ATK_TYPE_UTIL));
    util->get_root = GetRoot;
    util->get_toolkit_name = GetToolkitName;
    util->get_toolkit_version = GetToolkitVersion;
    g_application = NewAccessible(nullptr, ATK_ROLE_APPLICATION, kToolkitName, nullptr);
    if (init(nullptr, nullptr) != 0) {
        std::fprintf(stderr, "strellan: cannot join the accessibility bus\n");
        return;
    }
    g_started = true;
    for (HWND hDlg : g_dialogs)
        ShowDialog(hDlg);
    if (HWND active = GetActiveWindow(); active && g_objects.count(active))
        AccessibleActiveChanged(active, true);
    if (HWND focus = GetFocus())
        AccessibleFocusChanged(nullptr, focus);
}

} // namespace

void StartAccessibility()
{
    if (g_asked)
        return;
    g_asked = true;
    if (const char* off = std::getenv("NO_AT_BRIDGE"); off && std::strcmp(off, "1") == 0)
        return;
    if (AccessibilityBusNamed())
        JoinBus();
    else
        WatchAccessibilityStatus(JoinBus);
}

bool AccessibilityListening()
{
    return g_started || AccessibilityStatusWatched();
}

void AccessibleDialogCreated(HWND hDlg)
{
    g_dialogs.push_back(hDlg);
    if (g_started)
        ShowDialog(hDlg);
}

void AccessibleDestroyed(HWND hwnd)
{
    g_dialogs.erase(std::remove(g_dialogs.begin(), g_dialogs.end(), hwnd), g_dialogs.end());
    auto it = g_objects.find(hwnd);
    if (it == g_objects.end())
        return;
    atk_object_notify_state_change(it->second, ATK_STATE_DEFUNCT, TRUE);
    g_object_unref(it->second);
    g_objects.erase(it);
}

void AccessibleFocusChanged(HWND old, HWND now)
{
    if (!g_started)
        return;
    Notify(old, ATK_STATE_FOCUSED, false);
    Notify(now, ATK_STATE_FOCUSED, true);
    auto it = g_objects.find(now);
    if (it != g_objects.end()) {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        atk_focus_tracker_notify(it->second); /* AT-SPI's "focus:" event */
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
}

void AccessibleCheckChanged(HWND hwnd, bool checked)
{
    if (g_started)
        Notify(hwnd, ATK_STATE_CHECKED, checked);
}

void AccessibleActiveChanged(HWND hwnd, bool active)
{
    if (!g_started)
        return;
    Notify(hwnd, ATK_STATE_ACTIVE, active);
    auto it = g_objects.find(hwnd);
    if (it != g_objects.end())
        g_signal_emit_by_name(it->second, active ? "activate" : "deactivate");
}

} // namespace strellan
