// Another X client holding a global key: grabs KEYSYM with the given modifiers on the root window,
// prints "holding" and keeps the grab until its standard input closes.
// Usage: hotkey_holder KEYSYM [control] [alt] [shift] [super]
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2)
        return 2;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 3;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection);
    const xkb_keysym_t keysym = xkb_keysym_from_name(argv[1], XKB_KEYSYM_NO_FLAGS);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
    if (!codes || !codes[0])
        return 4;
    uint16_t modifiers = 0;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "control"))
            modifiers |= XCB_MOD_MASK_CONTROL;
        else if (!std::strcmp(argv[i], "alt"))
            modifiers |= XCB_MOD_MASK_1;
        else if (!std::strcmp(argv[i], "shift"))
            modifiers |= XCB_MOD_MASK_SHIFT;
        else if (!std::strcmp(argv[i], "super"))
            modifiers |= XCB_MOD_MASK_4;
    }
    xcb_generic_error_t *error = xcb_request_check(
        connection, xcb_grab_key_checked(connection, 0, root, modifiers, codes[0], XCB_GRAB_MODE_ASYNC,
                                         XCB_GRAB_MODE_ASYNC));
    std::free(codes);
    xcb_key_symbols_free(symbols);
    if (error) {
        std::free(error);
        std::printf("refused\n");
        return 5;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    xcb_disconnect(connection);
    return 0;
}
