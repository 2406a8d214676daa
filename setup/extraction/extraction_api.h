/* The extraction library's interface: the context record that the setup
 * program fills for one compressed group and the four exports that take it.
 *
 * A compressed group is a tar archive compressed with xz (so `tar -tJf`
 * lists it), stored as one entry of the package. The library reads it
 * straight from the package file at the group's offset, unscrambling the
 * bytes through the context's descrambler when one is given, and writes its
 * members under the output folder. Member names that are absolute or hold a
 * ".." component, symbolic links that point outside the output folder, and
 * anything that would be written through a symbolic link are refused: the
 * whole group then fails.
 *
 * The setup program loads the library from the package (dlopen of the
 * extracted file) and binds the exports by name; where that cannot be done
 * (a temporary folder mounted noexec) it calls the same code linked into
 * itself. */
#ifndef KRV_EXTRACTION_API_H
#define KRV_EXTRACTION_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results of ExtractAllFiles; InitExtraction answers 0 or KRV_EXTRACT_FAILED. */
#define KRV_EXTRACT_OK 0
#define KRV_EXTRACT_FAILED 3
#define KRV_EXTRACT_CANCELLED 5

/* The window-unscrambling object: transforms a buffer of the group's byte
 * stream in place, in stream order (it keeps the running position itself). */
typedef struct KrvDescrambler {
    void *self;
    void (*transform)(void *self, unsigned char *buffer, size_t length);
    void (*setWindowLength)(void *self, uint32_t length);
    void (*clearWindowLength)(void *self);
} KrvDescrambler;

/* Progress of a group: currentFile is the full path of a member that starts
 * (NULL when only the count moved), bytesDone the bytes of the group's
 * unpacked stream done so far. A non-zero answer cancels the extraction. */
typedef int (*KrvExtractionProgress)(void *argument, const char *currentFile, uint64_t bytesDone);

enum { KRV_EXTRACTION_FOLDER_SIZE = 4096 };

/* Scrambled content is transformed over this many bytes from the start of
 * its stream; setWindowLength starts a new pass (running position 0). */
#define KRV_SCRAMBLE_WINDOW 512u

typedef struct ExtractionContext {
    int sourceFile;                                /* the package file, open for reading */
    int reserved;                                  /* not set */
    uint64_t groupOffset;                          /* where the group starts in the file */
    uint64_t groupSize;                            /* its size in bytes */
    char outputFolder[KRV_EXTRACTION_FOLDER_SIZE]; /* ends with "/", zero-terminated */
    const char *password;                          /* not used by tar.xz groups */
    uint32_t zero1;
    KrvExtractionProgress progress; /* may be NULL */
    void *progressArgument;
    const KrvDescrambler *descrambler; /* NULL: the group is stored plain */
    int sourceFileAgain;               /* the same file; the program closes it */
    void *libraryState;                /* owned by the library between Init and End */
} ExtractionContext;

/* The exports, bound by these names. */
typedef int (*InitExtractionFunction)(ExtractionContext *context);
typedef uint64_t (*GetTotalFilesSizeFunction)(ExtractionContext *context);
typedef int (*ExtractAllFilesFunction)(ExtractionContext *context);
typedef void (*EndExtractionFunction)(ExtractionContext *context);

#ifdef __cplusplus
}
#endif

#endif
