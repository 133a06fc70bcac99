/*
 * Proxy settings and credentials: read from the agent key when the proxy is
 * enabled; the password is stored in Base64 and never written to the log.
 */
#include "agent/proxy.h"
#include "agent/settings.h"
#include "agent/text_helpers.h"

#include <stdlib.h>
#include <string.h>

namespace {

/* What the log shows in place of a password or its stored form. */
const char kMaskedSecret[] = "********";

bool IsBase64Space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

/* Value of a Base64 digit, or -1 for any other character. */
int Base64Digit(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

/* Gets the user key of `keySpec`, making the pair when the container has none. */
bool EnsureUserKey(HCRYPTPROV provider, DWORD keySpec) {
    HCRYPTKEY key = 0;
    if (CryptGetUserKey(provider, keySpec, &key)) {
        CryptDestroyKey(key);
        return true;
    }
    if (static_cast<DWORD>(GetLastError()) != static_cast<DWORD>(NTE_NO_KEY)) {
        return false;
    }
    if (!CryptGenKey(provider, keySpec, 0, &key)) {
        return false;
    }
    CryptDestroyKey(key);
    return true;
}

}  // namespace

int Base64DecodeBuffer(unsigned char *out, int capacity, const char *text, int length) {
    if (text == nullptr) {
        return 0;
    }
    if (length < 0) {
        length = static_cast<int>(strlen(text));
    }
    while (length > 0 && IsBase64Space(*text)) {
        ++text;
        --length;
    }
    while (length > 0 && IsBase64Space(text[length - 1])) {
        --length;
    }
    if (length % 4 != 0 || out == nullptr || capacity < (length / 4) * 3 + 1) {
        return -1;
    }

    int written = 0;
    for (int at = 0; at < length; at += 4) {
        const unsigned char *group = reinterpret_cast<const unsigned char *>(text + at);
        int a = Base64Digit(group[0]);
        int b = Base64Digit(group[1]);
        if (a < 0 || b < 0) {
            return -1;
        }
        if (group[2] == '=' && group[3] == '=') {
            out[written++] = static_cast<unsigned char>((a << 2) | (b >> 4));
            break;
        }
        int c = Base64Digit(group[2]);
        if (c < 0) {
            return -1;
        }
        if (group[3] == '=') {
            out[written++] = static_cast<unsigned char>((a << 2) | (b >> 4));
            out[written++] = static_cast<unsigned char>(((b & 0xF) << 4) | (c >> 2));
            break;
        }
        int d = Base64Digit(group[3]);
        if (d < 0) {
            return -1;
        }
        out[written++] = static_cast<unsigned char>((a << 2) | (b >> 4));
        out[written++] = static_cast<unsigned char>(((b & 0xF) << 4) | (c >> 2));
        out[written++] = static_cast<unsigned char>(((c & 0x3) << 6) | d);
    }
    return written;
}

char *DecodeProxyPassword(const char *encoded) {
    size_t length = encoded != nullptr ? strlen(encoded) : 0;
    size_t bytes = (length / 4) * 3 + 2;
    char *password = static_cast<char *>(calloc(bytes, 1));
    if (password == nullptr || encoded == nullptr) {
        return password;
    }
    int written = Base64DecodeBuffer(reinterpret_cast<unsigned char *>(password), static_cast<int>(bytes), encoded,
                                     static_cast<int>(length));
    if (written < 0) {
        /* Not Base64: no password rather than a partly decoded one. */
        memset(password, 0, bytes);
        return password;
    }
    password[written] = '\0';
    return password;
}

int CheckCryptographicClient(void) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, "Microsoft Base Cryptographic Provider v1.0", PROV_RSA_FULL, 0) &&
        !CryptAcquireContextA(&provider, nullptr, "Microsoft Base Cryptographic Provider v1.0", PROV_RSA_FULL,
                              CRYPT_NEWKEYSET)) {
        return 0;
    }
    const bool usable = EnsureUserKey(provider, AT_SIGNATURE) && EnsureUserKey(provider, AT_KEYEXCHANGE);
    CryptReleaseContext(provider, 0);
    return usable ? 1 : 0;
}

int InitializeProxyDetails(void) {
    LogDebug("%s", CheckCryptographicClient() == 1 ? "Cryptographic client Ok\r\n" : "Cryptographic client error\r\n");

    vt_agent::ReadText(VT_AGENT_KEY, "ProxyUserName", &gv_proxyUserName);

    char *stored = nullptr;
    vt_agent::ReadText(VT_AGENT_KEY, "ProxyPassword", &stored);
    /* The stored text is as secret as the password itself: neither reaches the log. */
    LogDebug("Password from registry: %s\n", kMaskedSecret);

    vt_agent::ReadText(VT_AGENT_KEY, "ProxyServerName", &gv_proxyServerName);
    vt_agent::ReadText(VT_AGENT_KEY, "ProxyByPass", &gv_proxyByPass);

    LogDebug("Encrypted password is: %s\n", kMaskedSecret);
    vt_agent::ReplaceText(&gv_proxyPassword, DecodeProxyPassword(stored));
    LogDebug("Decrypted password is: %s\n", kMaskedSecret);
    if (stored != nullptr) {
        memset(stored, 0, strlen(stored));
    }
    free(stored);

    if (vt_agent::EqualsNoCase(gv_proxyEnabled, "yes")) {
        LogInfo("*********************************************************** \n");
        LogInfo("Proxy Server Name -> %s \n", gv_proxyServerName);
        LogInfo("Proxy UserName    -> %s \n", gv_proxyUserName);
        LogInfo("Proxy ByPass List -> %s \n", gv_proxyByPass);
        LogInfo("*********************************************************** \n");
    }
    return 0;
}
