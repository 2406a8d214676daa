// A library that carries nothing but a version note (or none at all), for
// the console's version gate.
#include "version_info.h"

#ifdef KRV_TEST_VERSION
// The version arrives as one "a,b,c,d" definition; spread it over the macro.
#define KRV_DECLARE_VERSION_OF(...) KRV_DECLARE_FILE_VERSION(__VA_ARGS__)
KRV_DECLARE_VERSION_OF(KRV_TEST_VERSION);
#endif

extern "C" int krv_versioned_fixture() {
    return 0;
}
