// The version the library file carries, read by callers without loading it.
#include "version_info.h"

KRV_DECLARE_FILE_VERSION(2, 0, 2, 0);
