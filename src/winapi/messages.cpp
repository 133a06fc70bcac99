/*
 * FormatMessageA of the stand-in.
 *
 * System messages come from the table below, worded for this program; like the
 * system's own messages each ends with a line break. A code that is not in the
 * table fails with ERROR_MR_MID_NOT_FOUND, so callers fall back to their own
 * texts exactly as they do on Windows for codes the system does not know.
 *
 * Message escapes: %0 ends the text without a line break, %n is a hard line
 * break, %r, %t, %%, "% ", "%." and "%!" give the character, %1..%99 (optionally
 * "%1!d!" with a printf conversion) are inserts. With a maximum width of 0xFF the
 * text's own line breaks become single blanks (hard breaks stay); a width of
 * 1..254 also wraps lines at that width.
 */
#include "winapi/wa_private.h"

#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

struct SystemMessage {
    DWORD code;
    const char *text;
};

constexpr SystemMessage kSystemMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "The function is not valid for this request.\r\n"},
    {2, "The file could not be found.\r\n"},
    {3, "The path could not be found.\r\n"},
    {4, "Too many files are open.\r\n"},
    {5, "Access was refused.\r\n"},
    {6, "The handle is not valid.\r\n"},
    {8, "There is not enough memory to carry out this command.\r\n"},
    {13, "The data is not valid.\r\n"},
    {14, "Memory ran out before the operation could finish.\r\n"},
    {15, "The drive could not be found.\r\n"},
    {18, "There are no more files.\r\n"},
    {31, "A device attached to the system is not working.\r\n"},
    {32, "Another process is using the file, so it cannot be accessed.\r\n"},
    {33, "Another process has locked a part of the file.\r\n"},
    {38, "The end of the file was reached.\r\n"},
    {50, "This request is not supported.\r\n"},
    {80, "A file with this name exists already.\r\n"},
    {87, "A parameter is not valid.\r\n"},
    {109, "The pipe has been closed.\r\n"},
    {111, "The name does not fit into the buffer given.\r\n"},
    {112, "The disk does not have enough free space.\r\n"},
    {120, "This function is not available on this system.\r\n"},
    {122, "The buffer given to the system call is too small.\r\n"},
    {123, "The file name, folder name or volume label is not written correctly.\r\n"},
    {126, "The module could not be found.\r\n"},
    {127, "The procedure could not be found.\r\n"},
    {131, "The file pointer cannot be moved before the start of the file.\r\n"},
    {145, "The folder is not empty.\r\n"},
    {161, "The path is not valid.\r\n"},
    {183, "The file or folder cannot be created because it exists already.\r\n"},
    {203, "The environment variable could not be found.\r\n"},
    {206, "The file name or its extension is too long.\r\n"},
    {232, "The pipe is being closed.\r\n"},
    {234, "More data is waiting.\r\n"},
    {258, "The wait ran out of time.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The folder name is not valid.\r\n"},
    {288, "The caller does not own the mutex that it tries to release.\r\n"},
    {317, "No message text exists for this code.\r\n"},
    {1004, "The flags are not valid.\r\n"},
    {1009, "The registry database is damaged.\r\n"},
    {1010, "The registry key is not valid.\r\n"},
    {1011, "The registry key could not be opened.\r\n"},
    {1012, "The registry key could not be read.\r\n"},
    {1013, "The registry key could not be written.\r\n"},
    {1015, "The registry is damaged and could not be recovered.\r\n"},
    {1018, "The registry key has been marked for deletion and cannot be changed.\r\n"},
    {1060, "The service does not exist.\r\n"},
    {1113, "No Unicode character matches this character of the multi-byte code page.\r\n"},
    {1168, "The element could not be found.\r\n"},
    {1355, "The domain does not exist or cannot be reached.\r\n"},
    {1460, "The operation ended because its time ran out.\r\n"},
    {1601, "The installer service could not be reached.\r\n"},
    {1602, "The user cancelled the installation.\r\n"},
    {1603, "A fatal error happened during the installation.\r\n"},
    {1605, "This action applies only to products that are installed.\r\n"},
    {1612, "The installation source of this product cannot be reached.\r\n"},
    {1618, "Another installation is running. Finish it before starting this one.\r\n"},
    {1619, "The installation package could not be opened.\r\n"
           "Check that the package exists and that it can be read.\r\n"},
    {1620, "The installation package could not be opened.\r\n"
           "Check that it is a valid installer package.\r\n"},
    {1638, "Another version of this product is installed already.\r\n"
           "Remove that version before installing this one.\r\n"},
    {1639, "The command line arguments are not valid.\r\n"},
    {1641, "The installer started a restart to complete the installation.\r\n"},
    {1815, "The resource language could not be found.\r\n"},
    {3010, "A restart is needed to complete the installation.\r\n"},
};

const char *SystemText(DWORD code) {
    for (const SystemMessage &m : kSystemMessages)
        if (m.code == code) return m.text;
    return nullptr;
}

bool LanguageKnown(DWORD language) {
    /* neutral, user default, system default, English (US) */
    return language == 0 || language == 0x0400 || language == 0x0800 || language == 0x0409;
}

/* Insert arguments: an array of pointer-sized values, or a va_list whose values
 * are taken in the order of their numbers, each with the type its conversion asks
 * for (a string for s, an int otherwise, 64 bits with I64 or ll). */
struct Inserts {
    const DWORD_PTR *array = nullptr;
    std::vector<uint64_t> fetched; /* from the va_list */
};

struct InsertRef {
    int number = 0;
    std::string conversion = "s";
    size_t length = 0; /* characters of the escape, from '%' */
};

/* Reads an insert escape at text[i] == '%'; false when it is none. */
bool ParseInsert(const char *text, size_t i, InsertRef *ref) {
    size_t j = i + 1;
    if (text[j] < '1' || text[j] > '9') return false;
    int number = text[j++] - '0';
    if (text[j] >= '0' && text[j] <= '9') number = number * 10 + (text[j++] - '0');
    ref->number = number;
    ref->conversion = "s";
    if (text[j] == '!') {
        const char *close = strchr(text + j + 1, '!');
        if (close != nullptr) {
            ref->conversion.assign(text + j + 1, close);
            j = static_cast<size_t>(close - text) + 1;
        }
    }
    ref->length = j - i;
    return true;
}

bool IsStringConversion(const std::string &conv) { return !conv.empty() && (conv.back() == 's' || conv.back() == 'S'); }
bool IsWideConversion(const std::string &conv) {
    return conv.find("I64") != std::string::npos || conv.find("ll") != std::string::npos;
}

std::string FormatInsert(const InsertRef &ref, uint64_t value) {
    std::string conv = ref.conversion;
    char buf[512];
    if (IsStringConversion(conv)) {
        conv.back() = 's';
        const char *s = reinterpret_cast<const char *>(static_cast<uintptr_t>(value));
        snprintf(buf, sizeof buf, ("%" + conv).c_str(), s != nullptr ? s : "(null)");
        return buf;
    }
    const size_t at = conv.find("I64");
    if (at != std::string::npos) conv.replace(at, 3, "ll");
    if (IsWideConversion(conv)) {
        snprintf(buf, sizeof buf, ("%" + conv).c_str(), static_cast<long long>(value));
    } else {
        if (conv.find('l') != std::string::npos) conv.erase(conv.find('l'), 1);
        snprintf(buf, sizeof buf, ("%" + conv).c_str(), static_cast<int>(value));
    }
    return buf;
}

/* Applies the escapes; false (with the error) when inserts are missing. */
bool Expand(const char *text, DWORD flags, Inserts *inserts, va_list *args, std::string *out) {
    const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;

    if (!ignoreInserts && inserts->array == nullptr) {
        /* Collect the va_list values once, in the order of their numbers. */
        std::vector<InsertRef> refs(100);
        int highest = 0;
        for (size_t i = 0; text[i] != '\0'; ++i) {
            InsertRef ref;
            if (text[i] == '%' && text[i + 1] == '%') {
                ++i;
            } else if (text[i] == '%' && ParseInsert(text, i, &ref)) {
                if (refs[ref.number].length == 0) refs[ref.number] = ref;
                if (ref.number > highest) highest = ref.number;
            }
        }
        if (highest > 0 && args == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        for (int n = 1; n <= highest; ++n) {
            const std::string &conv = refs[n].conversion;
            if (IsStringConversion(conv) || refs[n].length == 0)
                inserts->fetched.push_back(reinterpret_cast<uintptr_t>(va_arg(*args, const char *)));
            else if (IsWideConversion(conv))
                inserts->fetched.push_back(static_cast<uint64_t>(va_arg(*args, long long)));
            else
                inserts->fetched.push_back(static_cast<uint64_t>(static_cast<unsigned>(va_arg(*args, int))));
        }
    }

    for (size_t i = 0; text[i] != '\0'; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            const bool pair = c == '\r' && text[i + 1] == '\n';
            if (width == 0)
                out->append(text + i, pair ? 2 : 1); /* the text's own line break, as it is */
            else
                out->push_back(' ');
            if (pair) ++i;
            continue;
        }
        if (c != '%') {
            out->push_back(c);
            continue;
        }
        const char next = text[i + 1];
        InsertRef ref;
        if (next == '\0') {
            break;
        } else if (next == '0') {
            return true;
        } else if (next == 'n') {
            *out += "\r\n";
        } else if (next == 'r') {
            out->push_back('\r');
        } else if (next == 't') {
            out->push_back('\t');
        } else if (ParseInsert(text, i, &ref)) {
            if (ignoreInserts) {
                out->append(text + i, ref.length);
            } else {
                const uint64_t value = inserts->array != nullptr ? inserts->array[ref.number - 1]
                                                                 : inserts->fetched[static_cast<size_t>(ref.number - 1)];
                *out += FormatInsert(ref, value);
            }
            i += ref.length - 1;
            continue;
        } else {
            out->push_back(next); /* "%%", "% ", "%.", "%!" and the like */
        }
        ++i;
    }
    return true;
}

/* Breaks each line at the last blank before `width` characters. */
std::string Wrap(const std::string &text, size_t width) {
    std::string out;
    size_t lineStart = 0;
    for (char c : text) {
        out.push_back(c);
        if (c == '\n') {
            lineStart = out.size();
            continue;
        }
        if (out.size() - lineStart > width) {
            const size_t blank = out.find_last_of(' ', out.size() - 1);
            if (blank != std::string::npos && blank >= lineStart) {
                out.replace(blank, 1, "\r\n");
                lineStart = blank + 2;
            }
        }
    }
    return out;
}

}  // namespace

extern "C" DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                                DWORD size, va_list *arguments) {
    const bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (allocate) *reinterpret_cast<LPSTR *>(buffer) = nullptr;

    const char *text = nullptr;
    if (flags & FORMAT_MESSAGE_FROM_STRING) {
        text = static_cast<const char *>(source);
        if (text == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    } else if (flags & FORMAT_MESSAGE_FROM_SYSTEM) {
        if (!LanguageKnown(languageId)) {
            SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
            return 0;
        }
        text = SystemText(messageId);
        if (text == nullptr) {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
    } else {
        /* Message tables of other modules are not available here. */
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }

    Inserts inserts;
    if (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) inserts.array = reinterpret_cast<const DWORD_PTR *>(arguments);
    std::string message;
    if (!Expand(text, flags, &inserts, arguments, &message)) return 0;
    const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) message = Wrap(message, width);

    if (allocate) {
        const size_t bytes = message.size() + 1 > size ? message.size() + 1 : size;
        char *block = static_cast<char *>(LocalAlloc(LPTR, bytes));
        if (block == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        memcpy(block, message.c_str(), message.size() + 1);
        *reinterpret_cast<LPSTR *>(buffer) = block;
    } else {
        if (size < message.size() + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        memcpy(buffer, message.c_str(), message.size() + 1);
    }
    return static_cast<DWORD>(message.size());
}
