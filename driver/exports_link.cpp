// Exports that open and close the link and hand out the last error.
#include "KRV_T100DRV.h"

#include "errors.h"
#include "link.h"

using namespace krv::drv;

extern "C" {

KRV_API KrvBool16 FPInit(uint8_t port, uint32_t baud, uint8_t readTimeout, uint8_t writeTimeout) {
    const ExportLock lock;
    return ToExportBool16(OpenLink(port, baud, readTimeout, writeTimeout));
}

KRV_API KrvBool FPClose(void) {
    const ExportLock lock;
    return ToExportBool(CloseLink());
}

KRV_API const char *FPErrorMessage(void) {
    const ExportLock lock;
    return ErrorState().text.c_str();
}

KRV_API KrvBool FPCodeError(uint8_t *code, uint8_t *status, uint8_t *extFlags) {
    const ExportLock lock;
    const LastErrorState &errors = ErrorState();
    if (code)
        *code = errors.code;
    if (status)
        *status = errors.status;
    if (extFlags)
        *extFlags = LastReply().header.extFlags;
    return kTrue;
}

} // extern "C"
