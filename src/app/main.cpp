// quillor: ssh into many machines at once, type into one or into all tagged ones.
#include "app/children.h"
#include "app/fatal.h"
#include "app/loop.h"
#include "app/options.h"
#include "dialogs/menu.h"
#include "machines/mlist.h"
#include "screen/layout.h"
#include "screen/screen.h"

int main(int argc, char **argv)
{
    Options options = options_parse(argc, argv);
    children_install_handler();
    fatal_save_terminal();
    screen_init();
    fatal_install_handlers();
    LayoutSize size = layout_create(options.list_width, options.term_width);
    menu_init(layout_minibuf_window());
    mlist_init(layout_list_window(), size.rows, size.cols);
    main_loop();
}
