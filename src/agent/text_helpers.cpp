#include "agent/text_helpers.h"

#include "platform/registry.h"
#include "util/strings.h"

#include <limits.h>
#include <stdlib.h>

namespace vt_agent {

char *NewText(const char *text) {
    char *copy = nullptr;
    if (text != nullptr) {
        DuplicateString(&copy, text);
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
    return left != nullptr && right != nullptr && CompareStringsNoCase(left, right) == 0;
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
