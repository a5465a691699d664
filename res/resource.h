// Every resource number the program uses: menus and commands, dialogs and their
// controls, strings, timers and window messages. Split by subsystem; include this.
#pragma once

// Dialog button answers and the standard OK/Cancel control IDs.
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

#include "res/ids_app.h"
#include "res/ids_terminal.h"
#include "res/ids_commands.h"
#include "res/ids_links.h"
#include "res/ids_phonebook.h"
