// glib's headers first, then the Windows names: both must compile together, and the truth values
// must keep the Windows meaning.
#include <glib.h>

#include "platform/win32.h"

BOOL TrueAfterGlib()
{
    return TRUE;
}

BOOL FalseAfterGlib()
{
    return FALSE;
}

gboolean GlibTrueAfterGlib()
{
    return TRUE;
}
