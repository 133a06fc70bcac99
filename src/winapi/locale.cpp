/* GetLocaleInfoA of the stand-in: Windows locale ids are mapped to ICU locales with
 * ICU's own table (uloc_getLocaleForLCID); the ISO names are read from those. */
#include "winapi/wa_private.h"

#include <unicode/uloc.h>
#include <unicode/utypes.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsoName(LCID locale, LCTYPE type, std::string *out) {
    char name[ULOC_FULLNAME_CAPACITY] = {0};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = uloc_getLocaleForLCID(locale, name, sizeof name, &status);
    if (U_FAILURE(status) || n <= 0) return false;
    char part[ULOC_FULLNAME_CAPACITY] = {0};
    status = U_ZERO_ERROR;
    if (type == LOCALE_SISO639LANGNAME)
        uloc_getLanguage(name, part, sizeof part, &status);
    else
        uloc_getCountry(name, part, sizeof part, &status);
    if (U_FAILURE(status)) return false;
    *out = part;
    return !(type == LOCALE_SISO639LANGNAME && out->empty());
}

}  // namespace

extern "C" int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
    const LCTYPE info = type & ~(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP);
    if (info != LOCALE_SISO639LANGNAME && info != LOCALE_SISO3166CTRYNAME) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (size < 0 || (size > 0 && data == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_NEUTRAL)
        locale = wa::MachineLocale();
    std::string text;
    if (!IsoName(locale, info, &text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) return needed;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(data, text.c_str(), static_cast<size_t>(needed));
    return needed;
}
