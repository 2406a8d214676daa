// The four exports of the extraction library (libkrv_extraction.so).
#include "group_reader.h"

#define KRV_EXPORT extern "C" __attribute__((visibility("default")))

KRV_EXPORT int InitExtraction(ExtractionContext *context) {
    return krv::extraction::Init(context);
}

KRV_EXPORT uint64_t GetTotalFilesSize(ExtractionContext *context) {
    return krv::extraction::TotalSize(context);
}

KRV_EXPORT int ExtractAllFiles(ExtractionContext *context) {
    return krv::extraction::ExtractAll(context);
}

KRV_EXPORT void EndExtraction(ExtractionContext *context) {
    krv::extraction::End(context);
}
