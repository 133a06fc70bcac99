/* Replacing a function the test program imports from a Windows library. The
 * program's own import table is rewritten, so every call made through it reaches
 * the replacement: the product's libraries are linked into the test program, so
 * their calls are among them. Calls made inside other libraries, and functions
 * found through GetProcAddress, are not affected. Windows test programs only. */
#pragma once
#ifdef _WIN32
#include <windows.h>

namespace vt_test {

/* Points the program's imports of `function` from `library` ("kernel32.dll",
 * matched without regard to case; NULL: from any library) at `replacement`.
 * Returns what the first of them pointed at before, or NULL when the program
 * does not import the function (then nothing is changed). */
void *PatchImport(const char *library, const char *function, void *replacement);

/* A replacement for as long as the object lives; the import is put back as it
 * was when it goes. */
class ImportPatch {
public:
    ImportPatch(const char *library, const char *function, void *replacement)
        : library_(library), function_(function),
          original_(PatchImport(library, function, replacement)) {}
    ~ImportPatch() {
        if (original_) PatchImport(library_, function_, original_);
    }
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;

    /* The function the import pointed at before (NULL: not imported). */
    void *Original() const { return original_; }
    template <typename F> F Original() const { return reinterpret_cast<F>(original_); }

private:
    const char *library_;
    const char *function_;
    void *original_;
};

}  // namespace vt_test
#endif
