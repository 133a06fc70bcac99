/* The stand-in's bridge to the C runtime: paths and the text of wide arguments. */
#include "winapi/wa_private.h"

#include <clocale>
#include <cstring>

/* Narrow paths of the program are in the ANSI code page, as the C runtime takes
 * them on Windows. A path on another machine gives "", which every C runtime
 * call refuses. */
std::string WaCrtPath(const char *path) { return wa::AnsiToHostPath(path); }

namespace {

/* The C runtime writes wide texts ("%S", "%ls") through the character type of the
 * locale. In the plain "C" locale every character outside ASCII fails the
 * conversion, and the C library then stops the whole line in the middle. Narrow
 * texts of the emulated machine are UTF-8, so wide ones are written as UTF-8 too.
 * Only the character type changes; numbers and collation stay as they are. */
__attribute__((constructor)) void UseUtf8ForWideText() {
    const char *current = std::setlocale(LC_CTYPE, nullptr);
    if (current == nullptr || std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace
