/*
 * CryptoAPI of the stand-in: key containers of the one RSA provider family.
 *
 * A container is a folder <root>/crypto/user/<name> (or <root>/crypto/machine/<name>
 * with CRYPT_MACHINE_KEYSET); the default container is named "Default". Its key
 * pairs are "signature.pem" (AT_SIGNATURE) and "exchange.pem" (AT_KEYEXCHANGE),
 * unencrypted PKCS#8 PEM files made with OpenSSL. Contexts and keys are handles
 * of the shared handle table.
 */
#include "winapi/winapi.h"
#include "winapi/wa_private.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace {

const char kDefaultContainer[] = "Default";
const unsigned kDefaultKeyBits = 1024;

struct ProviderContext : wa::HandleObject {
    ProviderContext() : wa::HandleObject(wa::HandleKind::Other) {}
    std::string folder;  /* the container's folder; empty for a verification context */
};

struct KeyObject : wa::HandleObject {
    KeyObject() : wa::HandleObject(wa::HandleKind::Other) {}
    ~KeyObject() override { EVP_PKEY_free(key); }
    EVP_PKEY *key = nullptr;
    DWORD keySpec = 0;
};

BOOL Fail(HRESULT code) {
    SetLastError(static_cast<DWORD>(code));
    return FALSE;
}

bool KnownProvider(const char *name) {
    return name == nullptr || strcmp(name, MS_DEF_PROV_A) == 0 || strcmp(name, MS_ENHANCED_PROV_A) == 0 ||
           strcmp(name, MS_STRONG_PROV_A) == 0;
}

bool ValidContainerName(const std::string &name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("/\\") == std::string::npos;
}

bool FolderExists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

const char *KeyFileName(DWORD keySpec) {
    switch (keySpec) {
    case AT_SIGNATURE:
        return "signature.pem";
    case AT_KEYEXCHANGE:
        return "exchange.pem";
    default:
        return nullptr;
    }
}

std::shared_ptr<ProviderContext> LookupContext(HCRYPTPROV provider) {
    auto object = wa::LookupHandle(reinterpret_cast<HANDLE>(provider), wa::HandleKind::Other);
    return std::dynamic_pointer_cast<ProviderContext>(object);
}

BOOL HandKey(EVP_PKEY *key, DWORD keySpec, HCRYPTKEY *out) {
    auto object = std::make_shared<KeyObject>();
    object->key = key;
    object->keySpec = keySpec;
    *out = reinterpret_cast<HCRYPTKEY>(wa::InsertHandle(object));
    return TRUE;
}

}  // namespace

extern "C" BOOL CryptAcquireContextA(HCRYPTPROV *provider, LPCSTR container, LPCSTR providerName,
                                     DWORD providerType, DWORD flags) {
    if (provider == nullptr) {
        return Fail(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    const DWORD knownFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET |
                             CRYPT_SILENT;
    if ((flags & ~knownFlags) != 0 || ((flags & CRYPT_NEWKEYSET) && (flags & CRYPT_DELETEKEYSET))) {
        return Fail(NTE_BAD_FLAGS);
    }
    if (!KnownProvider(providerName)) {
        return Fail(NTE_KEYSET_NOT_DEF);
    }
    if (providerType != PROV_RSA_FULL) {
        return Fail(providerName != nullptr ? NTE_PROV_TYPE_NO_MATCH : NTE_PROV_TYPE_NOT_DEF);
    }

    auto context = std::make_shared<ProviderContext>();
    if ((flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
        *provider = reinterpret_cast<HCRYPTPROV>(wa::InsertHandle(context));
        return TRUE;
    }
    const std::string name = container != nullptr ? container : kDefaultContainer;
    if (!ValidContainerName(name)) {
        return Fail(NTE_BAD_KEYSET_PARAM);
    }
    const std::string store = (flags & CRYPT_MACHINE_KEYSET) ? "crypto/machine" : "crypto/user";
    const std::string folder = wa::RootDir() + "/" + store + "/" + name;

    if (flags & CRYPT_DELETEKEYSET) {
        *provider = 0;
        if (!FolderExists(folder)) {
            return Fail(NTE_BAD_KEYSET);
        }
        unlink((folder + "/signature.pem").c_str());
        unlink((folder + "/exchange.pem").c_str());
        if (rmdir(folder.c_str()) != 0) {
            return Fail(NTE_FAIL);
        }
        return TRUE;
    }
    if (flags & CRYPT_NEWKEYSET) {
        if (FolderExists(folder)) {
            return Fail(NTE_EXISTS);
        }
        /* The container holds private keys: owner-only. */
        if (!wa::EnsureRootSubdir(store) || (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ||
            !FolderExists(folder)) {
            return Fail(NTE_FAIL);
        }
    } else if (!FolderExists(folder)) {
        return Fail(NTE_BAD_KEYSET);
    }
    context->folder = folder;
    *provider = reinterpret_cast<HCRYPTPROV>(wa::InsertHandle(context));
    return TRUE;
}

extern "C" BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
    if (flags != 0) {
        return Fail(NTE_BAD_FLAGS);
    }
    if (LookupContext(provider) == nullptr) {
        return Fail(NTE_BAD_UID);
    }
    wa::RemoveHandle(reinterpret_cast<HANDLE>(provider));
    return TRUE;
}

extern "C" BOOL CryptGetUserKey(HCRYPTPROV provider, DWORD keySpec, HCRYPTKEY *key) {
    auto context = LookupContext(provider);
    if (context == nullptr) {
        return Fail(NTE_BAD_UID);
    }
    if (key == nullptr) {
        return Fail(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    const char *fileName = KeyFileName(keySpec);
    if (fileName == nullptr) {
        return Fail(NTE_BAD_KEY);
    }
    if (context->folder.empty()) {
        return Fail(NTE_NO_KEY);
    }
    if (!FolderExists(context->folder)) {
        return Fail(NTE_BAD_KEYSET);
    }
    FILE *file = fopen((context->folder + "/" + fileName).c_str(), "rb");
    if (file == nullptr) {
        return Fail(NTE_NO_KEY);
    }
    EVP_PKEY *pair = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    fclose(file);
    if (pair == nullptr) {
        return Fail(NTE_BAD_KEYSET);
    }
    return HandKey(pair, keySpec, key);
}

extern "C" BOOL CryptGenKey(HCRYPTPROV provider, ALG_ID algorithm, DWORD flags, HCRYPTKEY *key) {
    auto context = LookupContext(provider);
    if (context == nullptr) {
        return Fail(NTE_BAD_UID);
    }
    if (key == nullptr) {
        return Fail(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    DWORD keySpec = 0;
    if (algorithm == AT_SIGNATURE || algorithm == CALG_RSA_SIGN) {
        keySpec = AT_SIGNATURE;
    } else if (algorithm == AT_KEYEXCHANGE || algorithm == CALG_RSA_KEYX) {
        keySpec = AT_KEYEXCHANGE;
    } else {
        return Fail(NTE_BAD_ALGID);
    }
    unsigned bits = flags >> 16;
    if (bits == 0) bits = kDefaultKeyBits;
    if (bits < 512 || bits > 16384 || bits % 8 != 0) {
        return Fail(NTE_BAD_FLAGS);
    }
    EVP_PKEY *pair = EVP_RSA_gen(bits);
    if (pair == nullptr) {
        return Fail(NTE_FAIL);
    }
    if (!context->folder.empty()) {
        const std::string path = context->folder + "/" + KeyFileName(keySpec);
        const std::string temporary = path + ".tmp";
        /* Private key material: owner-only from the start. */
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        FILE *file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
        if (file == nullptr && fd >= 0) close(fd);
        bool written = file != nullptr && PEM_write_PrivateKey(file, pair, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        if (file != nullptr) {
            written = fclose(file) == 0 && written;
        }
        if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
            unlink(temporary.c_str());
            EVP_PKEY_free(pair);
            return Fail(NTE_FAIL);
        }
    }
    return HandKey(pair, keySpec, key);
}

extern "C" BOOL CryptDestroyKey(HCRYPTKEY key) {
    auto object = std::dynamic_pointer_cast<KeyObject>(
        wa::LookupHandle(reinterpret_cast<HANDLE>(key), wa::HandleKind::Other));
    if (object == nullptr) {
        return Fail(NTE_BAD_KEY);
    }
    wa::RemoveHandle(reinterpret_cast<HANDLE>(key));
    return TRUE;
}
