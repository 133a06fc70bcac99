#include "agent/text_helpers.h"

#include "platform/registry.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

namespace vt_agent {

char *NewText(const char *text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t length = strlen(text);
    char *copy = static_cast<char *>(calloc(length + 1, 1));
    if (copy != nullptr) {
        memcpy(copy, text, length);
    }
    return copy;
}

void ReplaceText(char **target, char *replacement) {
    if (*target != replacement) {
        free(*target);
    }
    *target = replacement;
}

LONG ReadText(const char *key, const char *name, char **target) {
    char *text = nullptr;
    LONG status = ReadRegistryString(HKEY_LOCAL_MACHINE, key, name, &text);
    if (status != ERROR_SUCCESS) {
        /* A failed second query still hands over a zero-filled buffer. */
        free(text);
        text = nullptr;
    }
    ReplaceText(target, text);
    return status;
}

bool EqualsNoCase(const char *left, const char *right) {
    if (left == nullptr || right == nullptr) {
        return false;
    }
    for (;; ++left, ++right) {
        unsigned char l = static_cast<unsigned char>(*left);
        unsigned char r = static_cast<unsigned char>(*right);
        if (l >= 'A' && l <= 'Z') l = static_cast<unsigned char>(l - 'A' + 'a');
        if (r >= 'A' && r <= 'Z') r = static_cast<unsigned char>(r - 'A' + 'a');
        if (l != r) {
            return false;
        }
        if (l == '\0') {
            return true;
        }
    }
}

int DecimalValue(const char *text) {
    if (text == nullptr) {
        return 0;
    }
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= static_cast<long long>(INT_MAX) + 1) {
            value = value * 10 + (*text - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace vt_agent
